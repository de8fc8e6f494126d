#include "reminders/DatabaseSettings.h"

#include "components/csLocale.h"
#include "reminders/dbNameUtils.h"

namespace vestrel::reminders {

void LoadDatabaseSettings(fb::Connection& connection, const ShowMessageFn& showMessage) {
    const std::unique_ptr<IniFile> ini = OpenConfigIni();

    if (connection.Connected()) {
        if (connection.InTransaction())
            connection.Commit();
        connection.Close();
    }

    if (ini->ReadString("Database", "File", QByteArray()).isEmpty()) {
        if (showMessage)
            showMessage(LocalString(NoDatabaseFileMessage));
        return;
    }

    const int protocol = ini->ReadInteger("Database", "protocollo", 0);
    const QByteArray file = ini->ReadString("Database", "File", QByteArray());
    const QByteArray host = ini->ReadString("Database", "host", QByteArray());
    connection.setDatabaseName(ComposeDatabaseName(host, file, protocol));

    QByteArrayList params;
    params.append("user_name=" + ini->ReadString("Database", "user", QByteArray()));
    params.append("password=" + ini->ReadString("Database", "pwd", QByteArray()));
    const QByteArray role = ini->ReadString("Database", "ruolo", QByteArray());
    if (!role.isEmpty())
        params.append("sql_role_name=" + role);
    connection.setParams(params);
}

} // namespace vestrel::reminders
