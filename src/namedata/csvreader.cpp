#include "namedata/csvreader.h"

namespace ridelog::nameserver {

CsvReader::CsvReader(QByteArray content)
    : content_(std::move(content))
{
    if (content_.startsWith("\xEF\xBB\xBF"))
        pos_ = 3;
}

bool CsvReader::atRowEnd() const
{
    return pos_ >= content_.size() || content_[pos_] == '\n' ||
           (content_[pos_] == '\r' && (pos_ + 1 >= content_.size() || content_[pos_ + 1] == '\n'));
}

void CsvReader::skipRowEnd()
{
    if (pos_ < content_.size() && content_[pos_] == '\r')
        ++pos_;
    if (pos_ < content_.size() && content_[pos_] == '\n') {
        ++pos_;
        ++line_;
    }
}

QByteArray CsvReader::readPlainField()
{
    const qsizetype start = pos_;
    while (!atRowEnd() && content_[pos_] != ',')
        ++pos_;
    return content_.mid(start, pos_ - start);
}

QByteArray CsvReader::readQuotedField(bool& malformed)
{
    QByteArray field;
    ++pos_; // opening quote
    for (;;) {
        if (pos_ >= content_.size()) {
            malformed = true; // the file ended inside the quotes
            return field;
        }
        const char c = content_[pos_++];
        if (c == '"') {
            if (pos_ < content_.size() && content_[pos_] == '"') {
                field.append('"');
                ++pos_;
                continue;
            }
            break;
        }
        if (c == '\n')
            ++line_;
        field.append(c);
    }
    if (!atRowEnd() && content_[pos_] != ',') {
        malformed = true; // text after the closing quote belongs to the field as written
        field.append(readPlainField());
    }
    return field;
}

bool CsvReader::next(CsvRow& row)
{
    while (pos_ < content_.size() && atRowEnd())
        skipRowEnd(); // blank lines
    if (pos_ >= content_.size())
        return false;

    row = CsvRow{};
    row.lineNumber = line_;
    for (;;) {
        if (pos_ < content_.size() && content_[pos_] == '"')
            row.fields.append(readQuotedField(row.malformed));
        else
            row.fields.append(readPlainField());
        if (atRowEnd())
            break;
        ++pos_; // comma
    }
    skipRowEnd();
    return true;
}

} // namespace ridelog::nameserver
