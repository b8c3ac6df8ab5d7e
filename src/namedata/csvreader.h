// Reads comma-separated tables as the public code tables write them: optional UTF-8 byte-order
// mark, CRLF or LF line ends, a last line with or without its line end, and fields in double
// quotes that may hold commas, line ends and doubled quotes.
#pragma once

#include <QByteArray>
#include <QByteArrayList>

namespace ridelog::nameserver {

struct CsvRow
{
    QByteArrayList fields;
    int lineNumber = 0;     // line on which the row starts, counted from 1
    bool malformed = false; // an unterminated quote or text after a closing quote
};

class CsvReader
{
public:
    explicit CsvReader(QByteArray content);

    // Fills `row` with the next non-blank row; false at the end of the content.
    bool next(CsvRow& row);

private:
    QByteArray readQuotedField(bool& malformed);
    QByteArray readPlainField();
    bool atRowEnd() const;
    void skipRowEnd();

    QByteArray content_;
    qsizetype pos_ = 0;
    int line_ = 1;
};

} // namespace ridelog::nameserver
