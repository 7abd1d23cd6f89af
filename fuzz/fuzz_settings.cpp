// The workstation's settings file holding any bytes: loading the display
// settings and reading every kind of value must not crash.
#include "TDisplaySettings.h"
#include "TWorkstationStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
QString location;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    location = TWorkstationStore().Location();
    QDir().mkpath(QFileInfo(location).path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QFile file(location);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    TDisplaySettings settings;
    settings.Load();
    TWorkstationStore store;
    if (store.OpenKey(false)) {
        store.ReadInteger(QStringLiteral("Group0"), 0);
        store.ReadBool(QStringLiteral("Group0"), false);
        store.ReadString(QStringLiteral("RootPath"), QString());
    }
    return 0;
}
