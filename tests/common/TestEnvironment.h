#pragma once

#include <QString>
#include <QTemporaryDir>

// Pins everything a test could pick up from the machine before the application
// object exists: a private temporary folder that also serves as XDG_CONFIG_HOME
// and XDG_RUNTIME_DIR, a session bus address where no bus listens, UTC as the
// time zone and an English locale. One instance
// lives for the whole test program (see QUORLA_TEST_MAIN).
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // A new, empty folder for one test case, below the test program's own
    // temporary folder.
    static QString freshFolder(const QString& name);

private:
    QTemporaryDir dir_;
};
