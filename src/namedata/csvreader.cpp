#include "namedata/csvreader.h"

#include <QBuffer>

namespace ridelog::nameserver {

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;

} // namespace

CsvReader::CsvReader(QByteArray content)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(std::move(content));
    buffer->open(QIODevice::ReadOnly);
    device_ = buffer.get();
    owned_ = std::move(buffer);
    if (peek() == 0xEF) {
        fill();
        if (buffer_.mid(pos_, 3) == "\xEF\xBB\xBF")
            pos_ += 3;
    }
}

CsvReader::CsvReader(QIODevice& device)
    : device_(&device)
{
    if (peek() == 0xEF) {
        fill();
        if (buffer_.mid(pos_, 3) == "\xEF\xBB\xBF")
            pos_ += 3;
    }
}

CsvReader::~CsvReader() = default;

// Keeps at least three bytes ahead when the device has them (the byte-order mark, CR LF).
bool CsvReader::fill()
{
    if (buffer_.size() - pos_ >= 3 || atEnd_)
        return pos_ < buffer_.size();
    buffer_.remove(0, pos_);
    pos_ = 0;
    while (!atEnd_ && buffer_.size() < 3) {
        const QByteArray more = device_->read(kChunkBytes);
        if (more.isEmpty())
            atEnd_ = true;
        buffer_ += more;
    }
    return pos_ < buffer_.size();
}

int CsvReader::peek()
{
    if (pos_ >= buffer_.size() && !fill())
        return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
}

int CsvReader::get()
{
    const int c = peek();
    if (c >= 0)
        ++pos_;
    return c;
}

bool CsvReader::atRowEnd()
{
    const int c = peek();
    if (c < 0 || c == '\n')
        return true;
    if (c != '\r')
        return false;
    fill();
    return pos_ + 1 >= buffer_.size() || buffer_[pos_ + 1] == '\n';
}

void CsvReader::skipRowEnd()
{
    if (peek() == '\r')
        ++pos_;
    if (peek() == '\n') {
        ++pos_;
        ++line_;
    }
}

void CsvReader::appendTo(QByteArray& field, char c, CsvRow& row)
{
    if (field.size() < kMaxFieldBytes) {
        field.append(c);
        return;
    }
    if (row.overlongField < 0)
        row.overlongField = int(row.fields.size());
}

QByteArray CsvReader::readPlainField(CsvRow& row, QByteArray field)
{
    while (!atRowEnd() && peek() != ',')
        appendTo(field, char(get()), row);
    return field;
}

QByteArray CsvReader::readQuotedField(CsvRow& row)
{
    QByteArray field;
    get(); // opening quote
    for (;;) {
        const int c = get();
        if (c < 0) {
            row.malformed = true; // the file ended inside the quotes
            return field;
        }
        if (c == '"') {
            if (peek() == '"') {
                appendTo(field, '"', row);
                get();
                continue;
            }
            break;
        }
        if (c == '\n')
            ++line_;
        appendTo(field, char(c), row);
    }
    if (!atRowEnd() && peek() != ',') {
        row.malformed = true; // text after the closing quote belongs to the field as written
        field = readPlainField(row, std::move(field));
    }
    return field;
}

bool CsvReader::next(CsvRow& row)
{
    while (peek() >= 0 && atRowEnd())
        skipRowEnd(); // blank lines
    if (peek() < 0)
        return false;

    row = CsvRow{};
    row.lineNumber = line_;
    for (;;) {
        QByteArray field = peek() == '"' ? readQuotedField(row) : readPlainField(row);
        if (row.fields.size() < kMaxFields)
            row.fields.append(std::move(field));
        else
            row.tooManyFields = true;
        if (atRowEnd())
            break;
        get(); // comma
    }
    skipRowEnd();
    return true;
}

} // namespace ridelog::nameserver
