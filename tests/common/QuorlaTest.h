#pragma once

#include "EQuorla.h"
#include "TestEnvironment.h"

#include <QTest>

// The message of the E that `call` throws; empty when it throws none.
template <class E = EQuorla, class Call>
QString thrown(Call&& call)
{
    try {
        call();
    } catch (const E& e) {
        return e.message();
    }
    return {};
}

// Runs `call` again, as a person would, while it is refused with an EQuorla
// message beginning with `busy` (a record another workstation holds), `tries`
// times at most; answers the last refusal's message, empty once it went through.
template <class Call>
QString retried(const QString& busy, int tries, Call&& call)
{
    QString said = thrown(call);
    for (int n = 1; n < tries && !said.isEmpty() && said.startsWith(busy); ++n)
        said = thrown(call);
    return said;
}

// Like QTEST_MAIN / QTEST_GUILESS_MAIN, but the machine-dependent environment is
// pinned (TestEnvironment) before the application object is created.
#define QUORLA_TEST_MAIN_WITH(AppClass, TestClass)                                                 \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        TestEnvironment quorlaTestEnvironment;                                                     \
        AppClass app(argc, argv);                                                                  \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define QUORLA_TEST_CORE_MAIN(TestClass) QUORLA_TEST_MAIN_WITH(QCoreApplication, TestClass)
#define QUORLA_TEST_GUI_MAIN(TestClass) QUORLA_TEST_MAIN_WITH(QApplication, TestClass)
