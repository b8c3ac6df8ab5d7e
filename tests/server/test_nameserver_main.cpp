// Runs every test class of the name server in one executable.
#include "test_nameserver.h"
#include "testpaths.h"

#include <QCoreApplication>
#include <QTest>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (const auto& makeTest : nameServerTests()) {
        const std::unique_ptr<QObject> test = makeTest();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}

std::vector<TestFactory>& nameServerTests()
{
    static std::vector<TestFactory> tests;
    return tests;
}

QString fixturePath(const char* name)
{
    return QStringLiteral(RIDELOG_TEST_DATA_DIR "/nameserver/") + QString::fromUtf8(name);
}
