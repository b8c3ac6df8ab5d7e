// Reads comma-separated tables as the public code tables write them: optional UTF-8 byte-order
// mark, CRLF or LF line ends, a last line with or without its line end, and fields in double
// quotes that may hold commas, line ends and doubled quotes.
//
// The table is read from a device in pieces, and a field keeps at most kMaxFieldBytes bytes
// (a row at most kMaxFields fields): whatever a file holds, the reader's memory stays small.
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <memory>

class QIODevice;

namespace ridelog::nameserver {

struct CsvRow
{
    QByteArrayList fields;
    int lineNumber = 0;     // line on which the row starts, counted from 1
    bool malformed = false; // an unterminated quote or text after a closing quote
    int overlongField = -1; // the first field (from 0) cut at kMaxFieldBytes, -1 for none
    bool tooManyFields = false;
};

class CsvReader
{
public:
    // Far more than the 255 characters of a name in UTF-8 (at most 4 bytes each).
    static constexpr qsizetype kMaxFieldBytes = 4 * 256;
    static constexpr qsizetype kMaxFields = 64;

    explicit CsvReader(QByteArray content);
    explicit CsvReader(QIODevice& device);
    ~CsvReader();

    // Fills `row` with the next non-blank row; false at the end of the content.
    bool next(CsvRow& row);

private:
    int peek();
    int get();
    bool atRowEnd();
    void skipRowEnd();
    void appendTo(QByteArray& field, char c, CsvRow& row);
    QByteArray readQuotedField(CsvRow& row);
    QByteArray readPlainField(CsvRow& row, QByteArray field = {});
    bool fill();

    std::unique_ptr<QIODevice> owned_;
    QIODevice* device_ = nullptr;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool atEnd_ = false;
    int line_ = 1;
};

} // namespace ridelog::nameserver
