#include "namedata/cp932.h"

#include <cerrno>
#include <iconv.h>

namespace ridelog::cp932 {

namespace {

// One iconv conversion descriptor, closed when the scope ends.
class Converter
{
public:
    Converter(const char* to, const char* from)
        : cd_(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Back to the initial state, for the next text.
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    // Converts as much as possible; returns false and stops at an unconvertible sequence.
    bool convert(const char*& in, size_t& inLeft, QByteArray& out)
    {
        while (inLeft > 0) {
            char buffer[1024];
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            char* inPtr = const_cast<char*>(in);
            const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = errno;
            in = inPtr;
            out.append(buffer, qsizetype(sizeof buffer - outLeft));
            if (rc == size_t(-1) && error != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t cd_;
};

// Opening a descriptor costs more than converting a name: each thread keeps one per direction.
Converter& decoder()
{
    thread_local Converter converter("UTF-16LE", "CP932");
    converter.reset();
    return converter;
}

Converter& encoder()
{
    thread_local Converter converter("CP932", "UTF-8");
    converter.reset();
    return converter;
}

} // namespace

QString decode(const QByteArray& bytes)
{
    Converter& converter = decoder();
    if (!converter.valid())
        return QString::fromLatin1(bytes);

    QByteArray utf16;
    const char* in = bytes.constData();
    size_t inLeft = size_t(bytes.size());
    while (!converter.convert(in, inLeft, utf16)) {
        // Skip one undecodable byte and mark it.
        const char16_t replacement = u'\uFFFD';
        utf16.append(reinterpret_cast<const char*>(&replacement), 2);
        ++in;
        --inLeft;
    }
    return QString(reinterpret_cast<const QChar*>(utf16.constData()), utf16.size() / 2);
}

QByteArray encode(const QString& text)
{
    QByteArray out;
    Converter& converter = encoder();
    if (!converter.valid())
        return text.toLatin1();

    out.reserve(text.size() * 2);
    // Convert character by character only after a failure, so the common case stays one call.
    const QByteArray utf8 = text.toUtf8();
    const char* in = utf8.constData();
    size_t inLeft = size_t(utf8.size());
    while (!converter.convert(in, inLeft, out)) {
        // Skip the whole UTF-8 sequence of the character that cannot be encoded.
        const auto lead = static_cast<unsigned char>(*in);
        size_t length = lead < 0x80    ? 1
                        : lead >= 0xF0 ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC0 ? 2
                                       : 1;
        length = std::min(length, inLeft);
        out.append('?');
        in += length;
        inLeft -= length;
    }
    return out;
}

} // namespace ridelog::cp932
