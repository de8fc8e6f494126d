// The group file and the settings store, on real files in a temporary program and registry folder.
#include "chat/GroupStore.h"
#include "chat/UserConfig.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::chat;

class TestChatStores : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qputenv("VESTREL_PROGRAM_DIR", m_dir->filePath(QStringLiteral("prog")).toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", m_dir->filePath(QStringLiteral("reg")).toLocal8Bit());
        QDir(m_dir->path()).mkpath(QStringLiteral("prog"));
        QDir(m_dir->path()).mkpath(QStringLiteral("reg"));
    }
    void cleanup() {
        qunsetenv("VESTREL_PROGRAM_DIR_READONLY");
        qunsetenv("XDG_CONFIG_HOME");
    }

    void groupFileLivesBesideTheProgram() {
        IniFile ini = GroupStore::openGroupFile();
        ini.WriteString("x", "y", "z");
        QVERIFY(QFile::exists(programFile(QStringLiteral("gruppi.ini"))));
    }

    void savedGroupLayout() {
        IniFile ini = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(ini, "Ufficio Due", {"anna", "marco", "luca"}, names);
        QCOMPARE(ini.ReadSections(), QByteArrayList({"Ufficio Due", "GRCREATI"}));
        QCOMPARE(ini.ReadString("Ufficio Due", "0", ""), QByteArray("anna"));
        QCOMPARE(ini.ReadString("Ufficio Due", "2", ""), QByteArray("luca"));
        QCOMPARE(ini.ReadString("Ufficio Due", "count", ""), QByteArray("2"));
        QVERIFY(!ini.ValueExists("Ufficio Due", "3"));
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "ufficio due"), QByteArrayList({"anna", "marco", "luca"}));

        // A fresh reader sees the same; the list counts the highest index, not the number of names.
        const QByteArrayList five{"a", "b", "c", "d", "e"};
        GroupStore::SaveGroupList(ini, five);
        const IniFile reread = GroupStore::openGroupFile();
        QCOMPARE(reread.ReadString("GRCREATI", "Count", ""), QByteArray("4"));
        QCOMPARE(GroupStore::LoadGroupList(reread), five);
    }

    void replaceDeleteAndRename() {
        IniFile ini = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(ini, "A", {"anna", "bob", "carlo"}, names);
        GroupStore::CreateOrReplaceGroup(ini, "Z", {"zeno"}, names);
        // Same name again: members replaced, no duplicate name, old extra keys gone.
        GroupStore::CreateOrReplaceGroup(ini, "A", {"dario"}, names);
        QCOMPARE(names, QByteArrayList({"A", "Z"}));
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "A"), QByteArrayList({"dario"}));
        QVERIFY(!ini.ValueExists("A", "1"));

        // Editing "A" under the name "B" creates "B" and leaves "A" as it was.
        GroupStore::CreateOrReplaceGroup(ini, "B", {"dario", "elena"}, names);
        QCOMPARE(GroupStore::LoadGroupList(ini), QByteArrayList({"A", "Z", "B"}));
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "A"), QByteArrayList({"dario"}));

        // Deleting renumbers the list from 0.
        GroupStore::DeleteGroup(ini, "Z", names);
        QVERIFY(!ini.SectionExists("Z"));
        QCOMPARE(ini.ReadString("GRCREATI", "1", ""), QByteArray("B"));
        QVERIFY(!ini.ValueExists("GRCREATI", "2"));

        // Deleting the last groups removes the list section; loading then gives no groups.
        GroupStore::DeleteGroup(ini, "A", names);
        GroupStore::DeleteGroup(ini, "B", names);
        QVERIFY(!ini.SectionExists("GRCREATI"));
        QVERIFY(GroupStore::LoadGroupList(GroupStore::openGroupFile()).isEmpty());
    }

    void damagedGroupFile() {
        QFile file(programFile(QStringLiteral("gruppi.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[GRCREATI]\r\n0=Uno\r\nCount=uno\r\n[Uno]\r\n0=anna\r\n[Meno]\r\ncount=-1\r\n");
        file.close();
        const IniFile ini = GroupStore::openGroupFile();
        QVERIFY_THROWS_EXCEPTION(ConversionError, GroupStore::LoadGroupList(ini));
        QVERIFY_THROWS_EXCEPTION(ConversionError, GroupStore::LoadGroupMembers(ini, "Uno"));
        QVERIFY(GroupStore::LoadGroupMembers(ini, "Meno").isEmpty());
        // No file at all: no groups, no error.
        QVERIFY(GroupStore::LoadGroupList(IniFile(m_dir->filePath(QStringLiteral("missing.ini")))).isEmpty());
    }

    void settingsDefaultsWithoutStores() {
        const TUserConfig config = UserConfigStore::load();
        QCOMPARE(config.Timer, 40);
        QCOMPARE(config.Mostra, QByteArray("1"));
        QCOMPARE(config.Check, QByteArray("1"));
        QVERIFY(config.Nick.isEmpty());
        QVERIFY(config.Server.isEmpty());
        QVERIFY(config.Porta.isEmpty());
    }

    void settingsRoundTripAndOddValues() {
        TUserConfig config;
        config.Server = "chat.ufficio";
        config.Porta = "4711";
        config.Nick = "Andr\xE8";
        config.Host = "pc-anna";
        config.Notifica = "0";
        config.Timer = 7;
        UserConfigStore::save(config);

        const IniFile ini(programFile(QStringLiteral("DovuziZez.ini")));
        QCOMPARE(ini.ReadString("Server", "Host", ""), QByteArray("chat.ufficio"));
        QCOMPARE(ini.ReadString("Porta", "Porta", ""), QByteArray("4711"));

        Registry registry(RegistryHive::LocalMachine);
        QVERIFY(registry.OpenKey(UserConfigStore::RegistryKey, false));
        QCOMPARE(registry.ReadInteger("Timer"), 7);
        registry.WriteString("Popup", "yes");
        registry.DeleteValue("Suono");
        registry.WriteString("Timer", "trenta"); // wrong type: keeps the default

        const TUserConfig loaded = UserConfigStore::load();
        QCOMPARE(loaded.Nick, QByteArray("Andr\xE8"));
        QCOMPARE(loaded.Host, QByteArray("pc-anna"));
        QCOMPARE(loaded.Notifica, QByteArray("0"));
        QCOMPARE(loaded.Server, QByteArray("chat.ufficio"));
        QCOMPARE(loaded.Porta, QByteArray("4711"));
        QCOMPARE(loaded.Popup, QByteArray("yes"));
        QVERIFY(!isOn(loaded.Popup));
        QCOMPARE(loaded.Suono, QByteArray("1"));
        QCOMPARE(loaded.Timer, 40);
    }

    // Installed where the user cannot write: the settings the user changed go to the user's own copy;
    // what the administrator set and the user left alone follows the administrator's later changes.
    void installedSettingsKeepOnlyTheUsersChanges() {
        installed();
        writeProgramFile("DovuziZez.ini", "; preset\r\n[Server]\r\nHost=srv-ufficio\r\n[Porta]\r\nPorta=4711\r\n");
        TUserConfig config = UserConfigStore::load();
        QCOMPARE(config.Server, QByteArray("srv-ufficio"));
        config.Porta = "5000";
        config.Nick = "anna";
        UserConfigStore::save(config);

        const QString own = m_dir->filePath(QStringLiteral("config/vestrel/DovuziZez.ini"));
        QCOMPARE(contentsOf(own), QByteArray("[Porta]\r\nPorta=5000\r\n"));
        writeProgramFile("DovuziZez.ini", "[Server]\r\nHost=srv-nuovo\r\n[Porta]\r\nPorta=4711\r\n");
        TUserConfig loaded = UserConfigStore::load();
        QCOMPARE(loaded.Server, QByteArray("srv-nuovo"));
        QCOMPARE(loaded.Porta, QByteArray("5000"));
        QCOMPARE(loaded.Nick, QByteArray("anna"));

        // Going back to the administrator's port drops the user's own; the next default reaches them.
        loaded.Porta = "4711";
        UserConfigStore::save(loaded);
        QVERIFY(!IniFile(own).ValueExists("Porta", "Porta"));
        writeProgramFile("DovuziZez.ini", "[Server]\r\nHost=srv-nuovo\r\n[Porta]\r\nPorta=4800\r\n");
        QCOMPARE(UserConfigStore::load().Porta, QByteArray("4800"));
    }

    // A settings file that cannot be written is raised with its path and reason; the registry values
    // are saved all the same.
    void unwritableSettingsAreReportedAndTheRestSaved() {
        installed();
        writeProgramFile("../config", "a file where the user's folder should be");
        TUserConfig config;
        config.Server = "srv";
        config.Nick = "bob";
        try {
            UserConfigStore::save(config);
            QFAIL("no error raised");
        } catch (const UserConfigStore::SettingsSaveError& failure) {
            QVERIFY2(QString::fromUtf8(failure.what()).contains(QStringLiteral("config/vestrel/DovuziZez.ini")),
                     failure.what());
        }
        QCOMPARE(UserConfigStore::load().Nick, QByteArray("bob"));
    }

    // The user's copy keeps the user's changes only, so the administrator's later groups still arrive.
    void installedGroupsKeepOnlyTheUsersChanges() {
        installed();
        writeProgramFile("gruppi.ini", "[GRCREATI]\r\n0=Ufficio\r\nCount=0\r\n[Ufficio]\r\n0=anna\r\ncount=0\r\n");
        IniFile ini = GroupStore::openGroupFile();
        QCOMPARE(ini.FileName(), m_dir->filePath(QStringLiteral("config/vestrel/gruppi.ini")));
        QByteArrayList names = GroupStore::LoadGroupList(ini);
        GroupStore::CreateOrReplaceGroup(ini, "Magazzino", {"luca"}, names);
        QCOMPARE(GroupStore::LoadGroupList(GroupStore::openGroupFile()), QByteArrayList({"Ufficio", "Magazzino"}));
        QCOMPARE(contentsOf(ini.FileName()),
                 QByteArray("[Magazzino]\r\n0=luca\r\ncount=0\r\n\r\n[GRCREATI]\r\n1=Magazzino\r\nCount=1\r\n"));

        // The administrator renames the first group and changes its members: the user sees both.
        writeProgramFile("gruppi.ini", "[GRCREATI]\r\n0=Soci\r\nCount=0\r\n[Soci]\r\n0=anna\r\n1=bruno\r\ncount=1\r\n");
        const IniFile later = GroupStore::openGroupFile();
        QCOMPARE(GroupStore::LoadGroupList(later), QByteArrayList({"Soci", "Magazzino"}));
        QCOMPARE(GroupStore::LoadGroupMembers(later, "Soci"), QByteArrayList({"anna", "bruno"}));

        // Deleting every group keeps the list empty although the administrator's list lies beneath.
        names = GroupStore::LoadGroupList(ini);
        GroupStore::DeleteGroup(ini, "Magazzino", names);
        GroupStore::DeleteGroup(ini, "Soci", names);
        QVERIFY(GroupStore::LoadGroupList(GroupStore::openGroupFile()).isEmpty());
        QCOMPARE(GroupStore::LoadGroupList(IniFile(programFile(QStringLiteral("gruppi.ini")))), QByteArrayList{"Soci"});
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;

    void installed() {
        qputenv("VESTREL_PROGRAM_DIR_READONLY", "1");
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(QStringLiteral("config")).toLocal8Bit());
    }
    void writeProgramFile(const char* name, const QByteArray& data) {
        QFile file(programFile(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    static QByteArray contentsOf(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

QTEST_GUILESS_MAIN(TestChatStores)
#include "tst_chatstores.moc"
