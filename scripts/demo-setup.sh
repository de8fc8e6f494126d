# Sourced by the demo and the screenshot script: the demo's reminders database and chat clients.

# prepare_demo_reminders DIR
# makes DIR/office.fdb, an embedded database made by vestrel-db (as an office makes its own) with the
# sample reminders, and DIR/program/config.ini pointing at it; DIR/registry is the reminders' empty
# registry store.
prepare_demo_reminders() {
    local dir=$1
    mkdir -p "$dir/program" "$dir/registry"
    "$bin/vestrel-db" create "$dir/office.fdb" >/dev/null
    (
        printf "SET NAMES UTF8;\nCONNECT '%s' USER 'SYSDBA';\n" "$dir/office.fdb"
        cat "$root/scripts/demo-reminders.sql"
    ) | isql-fb -q -b >/dev/null
    printf '[Database]\r\nFile=%s\r\nuser=SYSDBA\r\n' "$dir/office.fdb" >"$dir/program/config.ini"
}

# prepare_demo_client DIR NICK MACHINE LANGUAGE PORT [REGISTRY LINE...]
# writes into DIR/program the settings file (server 127.0.0.1:PORT), the group "Ufficio" of anna and
# bruno, the language libraries and the new-message sound, and into DIR/registry the store with the
# language (0 Italian, 1 English), nick, machine name and the extra machine-wide values given as
# REGEDIT4 lines ('"Suono"="0"').
prepare_demo_client() {
    local dir=$1 nick=$2 machine=$3 language=$4 port=$5
    shift 5
    mkdir -p "$dir/program" "$dir/registry"
    cp "$bin"/DAVerOdov_ita.dll "$bin"/DAVerOdov_eng.dll "$bin"/Notify.wav "$dir/program/"
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\pelk software\\vestrel]\r\n"Locale"=dword:%08x\r\n\r\n' \
        "$language" >"$dir/registry/HKEY_CURRENT_USER.reg"
    printf '[Server]\r\nHost=127.0.0.1\r\n[Porta]\r\nPorta=%s\r\n' "$port" >"$dir/program/DovuziZez.ini"
    printf '[GRCREATI]\r\n0=Ufficio\r\nCount=0\r\n[Ufficio]\r\n0=anna\r\ncount=1\r\n1=bruno\r\n' \
        >"$dir/program/gruppi.ini"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\software\\Pelk Software\\Vestrel\\Chat]\r\n'
        printf '"Nick"="%s"\r\n"Host"="%s"\r\n"Mostra"="1"\r\n"Notifica"="1"\r\n' "$nick" "$machine"
        local line
        for line in "$@"; do
            printf '%s\r\n' "$line"
        done
        printf '\r\n'
    } >"$dir/registry/HKEY_LOCAL_MACHINE.reg"
}
