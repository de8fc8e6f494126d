#pragma once

// Test support: embedded databases built from the schema fixture, and a test's own folders for the
// registry store and the program directory.

#include "fb/Script.h"

#include <QByteArrayList>
#include <QFile>
#include <QTemporaryDir>

namespace vestrel::testing {

// The embedded engine takes any password.
inline const QByteArrayList SchemaUser{"user_name=SYSDBA", "password=x"};

// Creates the database `path` and runs tests/fixtures/schema.sql in it.
inline void createSchemaDatabase(const QByteArray& path) {
    QFile schema(qEnvironmentVariable("VESTREL_TEST_DATA") + QStringLiteral("/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("schema.sql not found; is VESTREL_TEST_DATA set?");
    fb::createDatabaseFromScript(path, SchemaUser, schema.readAll());
}

// Points the registry store and the program directory of this process (and of the programs it starts)
// into `dir`, so that a test never touches the user's files.
inline void useTestFolders(const QTemporaryDir& dir) {
    qputenv("VESTREL_REGISTRY_DIR", QFile::encodeName(dir.filePath(QStringLiteral("registry"))));
    qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(dir.path()));
}

} // namespace vestrel::testing
