// Card events: registered types, the event filter and its gate, arming card detection, the
// IDm text, and the whole path from a card file dropped in the folder to the handlers.
#include "card/cardevents.h"
#include "card/cardread.h"
#include "card/readerlibrary.h"
#include "support/cardfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog::card;
using ridelog::test::placeCard;

namespace {

// Stands for the main dialog: counts the card events that reach its own handling.
class FakeDialog : public QObject
{
public:
    int cardEventsSeen = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() >= QEvent::User)
            ++cardEventsSeen;
        return QObject::event(event);
    }
};

struct Counters
{
    int reads = 0;
    int clears = 0;
    std::vector<QString> idmTexts;
};

CardMessageHandlers countingHandlers(Counters& counters)
{
    return {[&counters] { ++counters.reads; }, [&counters] { ++counters.clears; }};
}

const QByteArray kCard = "idm 012E44A0B1C2D3E4\nblock 0 C746000018D93D802928FC0800002200\n";

// The virtual reader over a folder of its own, where card files are dropped.
struct FolderReader
{
    QTemporaryDir dir;
    ReaderLibrary library{ReaderConfig{QStringLiteral("virtual:") + dir.path()}};
    ReaderContext context;

    bool open() { return openReader(library, context) == 0; }
};

void postCardEvent(QObject* target, const char* name)
{
    QCoreApplication::postEvent(
        target, new QEvent(QEvent::Type(registeredCardEventType(QString::fromLatin1(name)))));
}

} // namespace

class TestCardEvents : public QObject
{
    Q_OBJECT

private slots:
    void eventTypesAreRegisteredOnce();
    void idmText_data();
    void idmText();
    void eventsReachTheHandlers_data();
    void eventsReachTheHandlers();
    void eventsContinueToTheDialog();
    void noSecondReadInsideARead();
    void startWithoutOpenReaderIsSilent();
    void callbackNeedsTargetAndNames();
    void cardFilesReachTheHandlers();
    void silentCallbackPostsNothing();
    void noEventsAfterClose();
};

void TestCardEvents::eventTypesAreRegisteredOnce()
{
    const int find = registeredCardEventType(QStringLiteral("CardFind"));
    const int lose = registeredCardEventType(QStringLiteral("CardLose"));
    QVERIFY(find >= QEvent::User && find <= QEvent::MaxUser);
    QVERIFY(lose >= QEvent::User && lose <= QEvent::MaxUser);
    QVERIFY(find != lose);
    QCOMPARE(registeredCardEventType(QStringLiteral("CardFind")), find);
    QCOMPARE(registeredCardEventType(QStringLiteral("CardLose")), lose);
}

void TestCardEvents::idmText_data()
{
    QTest::addColumn<QByteArray>("idm");
    QTest::addColumn<QString>("text");
    QTest::newRow("documented example")
        << QByteArray::fromHex("012E44A0B1C2D3E4") << QStringLiteral("012E44A0B1C2D3E4");
    QTest::newRow("all zero") << QByteArray(8, 0) << QStringLiteral("0000000000000000");
    QTest::newRow("all ones") << QByteArray(8, char(0xFF)) << QStringLiteral("FFFFFFFFFFFFFFFF");
    QTest::newRow("leading zero per byte")
        << QByteArray::fromHex("0A0B0C0D01020304") << QStringLiteral("0A0B0C0D01020304");
}

void TestCardEvents::idmText()
{
    QFETCH(QByteArray, idm);
    QFETCH(QString, text);
    felica::Idm bytes{};
    std::copy(idm.begin(), idm.end(), bytes.begin());
    QCOMPARE(formatIdmText(bytes), text);
}

// Card events posted to the dialog, polling started or not: what the handlers ran and how many
// events went on to the dialog's own handling.
void TestCardEvents::eventsReachTheHandlers_data()
{
    QTest::addColumn<bool>("polling");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("clears");
    QTest::addColumn<int>("seen");
    const QString find = QString::fromLatin1(kCardFindName);
    const QString lose = QString::fromLatin1(kCardLoseName);
    QTest::newRow("ignored until polling starts")
        << false << QStringList{find, lose} << 0 << 0 << 2;
    QTest::newRow("find reads, lose clears")
        << true << QStringList{lose, find, find} << 2 << 1 << 3;
    QTest::newRow("other events left alone")
        << true << QStringList{QStringLiteral("SomethingElse"), QString()} << 0 << 0 << 2;
}

void TestCardEvents::eventsReachTheHandlers()
{
    QFETCH(bool, polling);
    QFETCH(QStringList, events);
    FakeDialog dialog;
    Counters counters;
    CardEventFilter filter(countingHandlers(counters));
    dialog.installEventFilter(&filter);
    // Without polling the filter knows the event types but is not enabled.
    filter.cardFindMessage = registeredCardEventType(QStringLiteral("CardFind"));
    filter.cardLoseMessage = registeredCardEventType(QStringLiteral("CardLose"));
    if (polling)
        startCardPolling(nullptr, nullptr, filter, &dialog);
    for (const QString& name : events) {
        if (name.isEmpty())
            QCoreApplication::postEvent(&dialog, new QEvent(QEvent::User));
        else
            postCardEvent(&dialog, name.toLatin1().constData());
    }
    QCoreApplication::processEvents();
    QTEST(counters.reads, "reads");
    QTEST(counters.clears, "clears");
    QTEST(dialog.cardEventsSeen, "seen");
}

void TestCardEvents::eventsContinueToTheDialog()
{
    FakeDialog dialog;
    Counters counters;
    CardEventFilter filter(countingHandlers(counters));
    dialog.installEventFilter(&filter);
    startCardPolling(nullptr, nullptr, filter, &dialog);
    // The handler runs before the dialog's own handling sees the event.
    int seenWhenHandled = -1;
    CardEventFilter order({[&] { seenWhenHandled = dialog.cardEventsSeen; }, {}});
    order.cardFindMessage = filter.cardFindMessage;
    order.cardEventsEnabled = true;
    dialog.installEventFilter(&order);
    postCardEvent(&dialog, kCardFindName);
    QCoreApplication::processEvents();
    QCOMPARE(seenWhenHandled, 0);
    QCOMPARE(dialog.cardEventsSeen, 1);
    QCOMPARE(counters.reads, 1);
}

void TestCardEvents::noSecondReadInsideARead()
{
    // The read handler spins a nested event loop (as a modal message box does) while another
    // card arrives and leaves: neither event runs a handler inside the running read.
    FakeDialog dialog;
    int reads = 0;
    int clears = 0;
    int deepest = 0;
    int depth = 0;
    CardEventFilter filter({[&] {
                                ++reads;
                                deepest = std::max(deepest, ++depth);
                                if (reads == 1) {
                                    postCardEvent(&dialog, kCardFindName);
                                    postCardEvent(&dialog, kCardLoseName);
                                    QCoreApplication::processEvents();
                                }
                                --depth;
                            },
                            [&] { ++clears; }});
    dialog.installEventFilter(&filter);
    startCardPolling(nullptr, nullptr, filter, &dialog);
    postCardEvent(&dialog, kCardFindName);
    QCoreApplication::processEvents();
    QCOMPARE(reads, 1);
    QCOMPARE(clears, 0);
    QCOMPARE(deepest, 1);
    QCOMPARE(dialog.cardEventsSeen, 3);
    // Afterwards card events are handled again.
    postCardEvent(&dialog, kCardFindName);
    QCoreApplication::processEvents();
    QCOMPARE(reads, 2);
}

// Without a reader, or with one that did not open, card events are armed but nothing polls.
void TestCardEvents::startWithoutOpenReaderIsSilent()
{
    FakeDialog dialog;
    Counters counters;
    CardEventFilter filter(countingHandlers(counters));
    ReaderContext context;
    startCardPolling(nullptr, &context, filter, &dialog);
    QVERIFY(filter.cardEventsEnabled);
    QVERIFY(!context.pollingStarted);
    QCOMPARE(filter.cardFindMessage, registeredCardEventType(QStringLiteral("CardFind")));
    QCOMPARE(filter.cardLoseMessage, registeredCardEventType(QStringLiteral("CardLose")));

    ReaderLibrary library(ReaderConfig{QStringLiteral("auto")});
    QCOMPARE(openReader(library, context), 2);
    startCardPolling(&library, &context, filter, &dialog);
    QVERIFY(!context.pollingStarted);
    QVERIFY(filter.cardEventsEnabled);
}

void TestCardEvents::callbackNeedsTargetAndNames()
{
    ReaderLibrary library(ReaderConfig{QStringLiteral("auto")});
    FakeDialog dialog;
    CallbackParameters noTarget;
    noTarget.cardFindName = kCardFindName;
    noTarget.cardLoseName = kCardLoseName;
    QVERIFY(!library.set_call_back_parameters(noTarget));
    CallbackParameters noNames;
    noNames.target = &dialog;
    QVERIFY(!library.set_call_back_parameters(noNames));
    PollingStartParameters noSystemCode;
    QVERIFY(!library.start_polling(noSystemCode));
}

// A card already on the reader when detection starts is found; taken off and dropped in again,
// each change reaches the handlers within 300 ms; replaced by another card, it is a removal and
// a new arrival.
void TestCardEvents::cardFilesReachTheHandlers()
{
    FolderReader reader;
    auto& [dir, library, context] = reader;
    const QString cardFile = dir.filePath(QStringLiteral("commuter.card"));
    QVERIFY(placeCard(dir.path(), QStringLiteral("commuter.card"), kCard));
    QVERIFY(reader.open());

    FakeDialog dialog;
    Counters counters;
    QElapsedTimer sinceChange;
    qint64 findLatency = -1;
    qint64 loseLatency = -1;
    CardEventFilter filter({[&] {
                                findLatency = sinceChange.elapsed();
                                const CardReadResult card = readCardHistory(library, context);
                                ++counters.reads;
                                if (card.ok)
                                    counters.idmTexts.push_back(card.idmText);
                            },
                            [&] {
                                loseLatency = sinceChange.elapsed();
                                ++counters.clears;
                            }},
                           &dialog);
    dialog.installEventFilter(&filter);
    startCardPolling(&library, &context, filter, &dialog);
    QVERIFY(context.pollingStarted);
    QTRY_COMPARE_WITH_TIMEOUT(counters.reads, 1, 2000);

    sinceChange.start();
    QVERIFY(QFile::remove(cardFile));
    QTRY_COMPARE_WITH_TIMEOUT(counters.clears, 1, 2000);
    QVERIFY2(loseLatency >= 0 && loseLatency < 300, qPrintable(QString::number(loseLatency)));

    sinceChange.start();
    QVERIFY(placeCard(dir.path(), QStringLiteral("commuter.card"), kCard));
    QTRY_COMPARE_WITH_TIMEOUT(counters.reads, 2, 2000);
    QVERIFY2(findLatency >= 0 && findLatency < 300, qPrintable(QString::number(findLatency)));
    const QString idm = QStringLiteral("012E44A0B1C2D3E4");
    QCOMPARE(counters.idmTexts, (std::vector<QString>{idm, idm}));
    QCOMPARE(counters.clears, 1);

    QVERIFY(QFile::remove(cardFile));
    QVERIFY(placeCard(dir.path(), QStringLiteral("commuter.card"), "idm 0000000000000001\n"));
    QTRY_COMPARE_WITH_TIMEOUT(counters.reads, 3, 2000);
    QCOMPARE(counters.clears, 2);
    QCOMPARE(dialog.cardEventsSeen, 5);
    closeReader(library, context);
}

void TestCardEvents::silentCallbackPostsNothing()
{
    FolderReader reader;
    auto& [dir, library, context] = reader;
    QVERIFY(placeCard(dir.path(), QStringLiteral("a.card"), kCard));
    QVERIFY(reader.open());
    FakeDialog dialog;
    CallbackParameters callback{&dialog, kCardFindName, kCardLoseName, 0, 0};
    QVERIFY(library.set_call_back_parameters(callback));
    static constexpr std::uint8_t kAny[2] = {0xFF, 0xFF};
    QVERIFY(library.start_polling(PollingStartParameters{kAny, 1}));
    QTest::qWait(350);
    QCOMPARE(dialog.cardEventsSeen, 0);
}

void TestCardEvents::noEventsAfterClose()
{
    FolderReader reader;
    QVERIFY(reader.open());
    auto& [dir, library, context] = reader;
    FakeDialog dialog;
    Counters counters;
    CardEventFilter filter(countingHandlers(counters), &dialog);
    dialog.installEventFilter(&filter);
    startCardPolling(&library, &context, filter, &dialog);
    closeReader(library, context);
    QVERIFY(placeCard(dir.path(), QStringLiteral("a.card"), kCard));
    QTest::qWait(350);
    QCOMPARE(counters.reads, 0);
    QCOMPARE(dialog.cardEventsSeen, 0);
}

QTEST_GUILESS_MAIN(TestCardEvents)
#include "test_cardevents.moc"
