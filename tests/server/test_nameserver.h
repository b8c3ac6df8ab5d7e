// The test classes of the name server register themselves here.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

using TestFactory = std::function<std::unique_ptr<QObject>()>;

std::vector<TestFactory>& nameServerTests();

template <typename Test> struct RegisterTest
{
    RegisterTest()
    {
        nameServerTests().push_back([] { return std::make_unique<Test>(); });
    }
};

// Fixture tables of tests/data/nameserver.
QString fixturePath(const char* name);
