#pragma once

#include <QStringList>
#include <QTest>

#include <typeinfo>
#include <utility>

// What every scripted part of a test's services (`Part` derives from
// TScriptedPart<Part>) does alike. The newest one alive is the one
// TScriptedServices::ofTest() passes the calls of its kind to: making one
// installs it, destroying it puts the one made before it back. Events the
// script did not expect are kept, and the part's destructor fails the test
// when any are left, or scripted answers nobody asked for.
template <class Part>
class TScriptedPart
{
public:
    // None alive ends the process, as a program that hands in none would.
    static Part& newest()
    {
        if (newest_ == nullptr)
            qFatal("No scripted services are installed: %s", typeid(Part).name());
        return static_cast<Part&>(*newest_);
    }

    // Descriptions of the unexpected events so far; taking them clears them.
    QStringList takeUnexpected() { return std::exchange(unexpected_, {}); }

protected:
    TScriptedPart() : previous_(std::exchange(newest_, this)) {}
    ~TScriptedPart() { newest_ = previous_; }

    // For the part's destructor: fails the running test on the unexpected
    // events left and on the `pending` scripted answers.
    void failOnLeftovers(const QStringList& pending)
    {
        QStringList problems = takeUnexpected();
        for (const QString& answer : pending)
            problems << QStringLiteral("scripted but never asked: ") + answer;
        if (!problems.isEmpty())
            QTest::qFail(qPrintable(problems.join(QLatin1String("\n    "))), __FILE__, __LINE__);
    }

    QStringList unexpected_;

private:
    TScriptedPart* previous_;
    static inline TScriptedPart* newest_ = nullptr;
};
