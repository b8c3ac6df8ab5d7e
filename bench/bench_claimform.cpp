// The claim form of a long history as a PDF, and one purpose stored beside a long history.
#include "report/claimform.h"
#include "report/claimformpainter.h"
#include "store/database.h"
#include "store/historystore.h"
#include "store/notestore.h"
#include "store/schema.h"
#include "support/cardblocks.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ridelog;

namespace {

// 1,000 journeys over a year, every one with a purpose, a tenth of them long ones.
std::vector<ExpenseEntry> yearOfJourneys(int count)
{
    const QString stations[] = {QStringLiteral("渋谷"), QStringLiteral("新宿"),
                                QStringLiteral("横浜"), QStringLiteral("品川"),
                                QStringLiteral("東京"), QStringLiteral("武蔵小杉")};
    std::vector<ExpenseEntry> entries;
    for (int i = 0; i < count; ++i) {
        ExpenseEntry entry;
        entry.serial = std::uint32_t(i + 1);
        entry.date = QDate(2026, 1, 1).addDays(i * 365 / count);
        entry.kind = i % 11 == 0 ? RecordKind::Bus : RecordKind::Rail;
        entry.entry = {stations[i % 6], {0, 1, i % 6}, 3};
        if (entry.kind == RecordKind::Rail)
            entry.exit = {stations[(i + 2) % 6], {0, 1, (i + 2) % 6}, 3};
        entry.amount = 160 + i % 5 * 30;
        entry.purpose =
            i % 10 == 0 ? QStringLiteral("顧客訪問（%1社、見積と契約の打合せ、資料持参）").arg(i)
                        : QStringLiteral("打合せ");
        entry.claimed = true;
        entries.push_back(entry);
    }
    return entries;
}

double pdfMilliseconds(const ClaimForm& form, const QString& path, int rounds, qint64& bytes)
{
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (writeClaimPdf(path, form).result != ClaimPdfResult::Written)
            return -1;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    bytes = QFileInfo(path).size();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double noteMilliseconds(const QString& path, int rounds)
{
    const QString idm = QStringLiteral("0102030405060708");
    {
        Database database = Database::open(path, Database::OpenMode::CreateIfMissing, 1000);
        Transaction transaction(database);
        HistoryStore::CreateCardTable(database, CardTableName(idm));
        Statement add = database.prepareAddRow(CardTableName(idm), cardBlockColumns());
        for (std::uint32_t serial = 0; serial < 10000; ++serial) {
            const BlockWords words = blockWords(test::makeBlock(
                {.year = 2000, .month = 0, .day = 0, .balance = 0, .serial = serial}));
            for (int w = 0; w < 4; ++w)
                add.bind(w + 1, words[std::size_t(w)]);
            add.run();
            add.reset();
        }
        transaction.commit();
    }
    NoteStore notes(path);
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const std::uint32_t serials[] = {std::uint32_t(9999 - round)};
        QElapsedTimer timer;
        timer.start();
        const NoteChange change{QStringLiteral("打合せ %1").arg(round), round % 2 == 0};
        if (!notes.setNotes(idm, serials, change, 1'765'000'000).written())
            return -1;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    for (const int count : {100, 1000}) {
        ClaimRequest request;
        request.claimant = QStringLiteral("山田 花子");
        request.department = QStringLiteral("営業部");
        request.madeOn = QDate(2026, 12, 8);
        QElapsedTimer build;
        build.start();
        const ClaimForm form = buildClaimForm(yearOfJourneys(count), request);
        const double buildMs = double(build.nsecsElapsed()) / 1e6;
        qint64 bytes = 0;
        const double ms =
            pdfMilliseconds(form, dir.filePath(QStringLiteral("claim.pdf")), 5, bytes);
        std::printf("claim form, %5d journeys: form %.1f ms, PDF %.0f ms (median of 5), "
                    "%lld bytes\n",
                    count, buildMs, ms, static_cast<long long>(bytes));
    }
    const double noteMs = noteMilliseconds(dir.filePath(QStringLiteral("ekdb.sqlite")), 21);
    std::printf("one note stored beside 10,000 entries: %.1f ms (median of 21)\n", noteMs);
    return 0;
}
