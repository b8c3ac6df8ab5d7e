#include "names/nameprotocol.h"

#include "namedata/cp932.h"
#include "names/composition.h"

#include <QStringList>
#include <algorithm>

namespace ridelog {

namespace {

QString item(std::uint32_t serial, int code, const QString& key)
{
    // Built piece by piece: the escapes would read as placeholders of QString::arg.
    return QString::number(serial) + QStringLiteral("%1").arg(code, 2, 10, QLatin1Char('0')) +
           QStringLiteral("%2c") + key + QStringLiteral("%3a");
}

QString threePartKey(unsigned a, unsigned b, unsigned c)
{
    const QString comma = QStringLiteral("%2c");
    return QString::number(a) + comma + QString::number(b) + comma + QString::number(c);
}

const QString& blank()
{
    static const QString text = QStringLiteral(" ");
    return text;
}

QString blankAsEmpty(const QString& text)
{
    return text == blank() ? QString() : text;
}

QString fieldOrEmpty(const QStringList& fields, qsizetype index)
{
    return index < fields.size() ? fields.at(index) : QString();
}

// Rail: company, line, station, all three mandatory, taken as they stand.
void storeRailRecord(const QStringList& fields, QChar which, const DisplayFlags& flags,
                     NameRefreshRow& row)
{
    if (fields.size() < 4)
        return;
    const QString& company = fields.at(1);
    const QString& line = fields.at(2);
    const QString& station = fields.at(3);
    const QString name = composeRailName(company, line, station, flags);
    if (which == u'2') {
        row.an = company;
        row.ln = line;
        row.sn = station;
        row.entryName = name;
    } else if (which == u'4') {
        row.exitAn = company;
        row.exitLn = line;
        row.exitSn = station;
        row.exitName = name;
    }
}

// Shop: company and store mandatory; a missing register or fourth field counts as empty.
// A blank register is stored empty but composed as received.
void storeShopRecord(const QStringList& fields, const DisplayFlags& flags, NameRefreshRow& row)
{
    if (fields.size() < 3)
        return;
    const QString& company = fields.at(1);
    const QString& store = fields.at(2);
    const QString cashRegister = fieldOrEmpty(fields, 3);
    const QString fourth = fieldOrEmpty(fields, 4);
    row.an = company;
    row.ln = store;
    row.sn = blankAsEmpty(cashRegister);
    row.ap = blankAsEmpty(fourth);
    row.entryName = composeShopName(company, store, cashRegister, flags);
    row.exitName.clear();
}

// Bus: company mandatory; a missing stop or route counts as empty. A blank stop is the
// common stop "共通", a blank route is none.
void storeBusRecord(const QStringList& fields, const DisplayFlags& flags, NameRefreshRow& row)
{
    if (fields.size() < 2)
        return;
    const QString& company = fields.at(1);
    QString stop = fieldOrEmpty(fields, 2);
    if (stop == blank())
        stop = QStringLiteral("共通");
    const QString route = blankAsEmpty(fieldOrEmpty(fields, 3));
    row.an = company;
    row.ln = stop;
    row.sn = route;
    row.entryName = composeBusName(company, stop, route, flags, BusColon::Ascii);
    row.exitName.clear();
    row.exitAn.clear();
    row.exitLn.clear();
    row.exitSn.clear();
}

void storeRecord(const QString& record, const DisplayFlags& flags, NameRefreshTable& table)
{
    QStringList fields = record.split(u',', Qt::SkipEmptyParts);
    // Every name part passes here, whichever source answered; the serial and code stay as sent.
    for (qsizetype i = 1; i < fields.size(); ++i)
        fields[i] = receivedNamePart(fields.at(i));
    if (fields.isEmpty())
        return; // commas only
    const QString& head = fields.first();
    // The serial and its two-character code; without a serial there is no row to fill.
    if (head.size() < 3)
        return;
    const QString key = head.first(head.size() - 2);
    const QChar kind = head.at(head.size() - 2);
    const QChar which = head.at(head.size() - 1);
    NameRefreshRow& row = table.rowFor(key);
    if (kind == u'0')
        storeRailRecord(fields, which, flags, row);
    else if (kind == u'1')
        storeShopRecord(fields, flags, row);
    else if (kind == u'2')
        storeBusRecord(fields, flags, row);
}

} // namespace

QString receivedNamePart(const QString& part)
{
    QString text;
    text.reserve(std::min(part.size(), kMaxNamePartCharacters));
    for (const QChar c : part) {
        if (text.size() == kMaxNamePartCharacters)
            break;
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            continue;
        text.append(c);
    }
    // A cut between the halves of a surrogate pair would leave half a character.
    if (text.size() == kMaxNamePartCharacters && text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

QString railEntryItem(std::uint32_t serial, const StationKey& key)
{
    return item(serial, kItemRailEntry, threePartKey(key.ac, key.lc, key.sc));
}

QString railExitItem(std::uint32_t serial, const StationKey& key)
{
    return item(serial, kItemRailExit, threePartKey(key.ac, key.lc, key.sc));
}

QString shopItem(std::uint32_t serial, const ShopKey& key)
{
    return item(serial, kItemShop, threePartKey(key.lc, key.sc, 0));
}

QString busItem(std::uint32_t serial, const BusStopKey& key)
{
    return item(serial, kItemBus, key.isNone() ? QString() : threePartKey(key.ac, key.lc, 0));
}

QByteArray nameRequestBody(const QString& itemList)
{
    return QByteArrayLiteral("a=") + itemList.toLatin1() + QByteArrayLiteral("&p=ap&");
}

QString nameRequestPath()
{
    return QStringLiteral("/trfc/");
}

QByteArray nameRequestContentType()
{
    return QByteArrayLiteral("application/x-www-form-urlencoded");
}

QByteArray nameRequestAccept()
{
    return QByteArrayLiteral("text/*");
}

QByteArray nameRequestUserAgent()
{
    return QByteArrayLiteral("Hotaru RLG1.2 (Station: ) Agent");
}

QByteArray joinAnswerLines(const QByteArray& body)
{
    QByteArray joined = body;
    joined.replace('\n', QByteArray());
    return joined;
}

bool isNoDataAnswer(const QByteArray& joined)
{
    return joined.size() >= 7 && joined.first(7).compare("No data", Qt::CaseInsensitive) == 0;
}

void parseNameAnswer(const QByteArray& joined, const DisplayFlags& flags, NameRefreshTable& table)
{
    // Neither ":" nor "," can be the second byte of a two-byte character, so splitting the
    // decoded text is the same as splitting the bytes.
    const QString text = cp932::decode(joined);
    const QStringList records = text.split(u':', Qt::SkipEmptyParts);
    for (const QString& record : records)
        storeRecord(record, flags, table);
}

QString readNameAnswer(int httpStatus, const QByteArray& body, const DisplayFlags& flags,
                       NameRefreshTable& table)
{
    if (httpStatus != 200)
        return QStringLiteral("Error %1").arg(httpStatus);
    const QByteArray joined = joinAnswerLines(body);
    if (isNoDataAnswer(joined))
        return QString();
    parseNameAnswer(joined, flags, table);
    return QString();
}

} // namespace ridelog
