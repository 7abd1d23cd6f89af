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
