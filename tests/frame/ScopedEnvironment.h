#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <cstdlib>

// Sets or unsets environment variables for one scope and restores them afterwards. Main
// thread only, while no other thread reads the environment.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment()
    {
        for (int i = saved.size() - 1; i >= 0; --i)
            apply(saved[i].first, saved[i].second);
    }

    // A null value unsets the variable; an empty one sets it to "".
    void set(const char* name, const QByteArray& value)
    {
        const char* old = std::getenv(name);
        saved.append({name, old ? QByteArray(old) : QByteArray()});
        apply(name, value);
    }

private:
    static void apply(const QByteArray& name, const QByteArray& value)
    {
        if (value.isNull())
            ::unsetenv(name.constData());
        else
            ::setenv(name.constData(), value.constData(), 1);
    }

    QList<QPair<QByteArray, QByteArray>> saved;
};
