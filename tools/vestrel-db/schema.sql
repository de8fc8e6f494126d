/* The office database tables the Vestrel programs read and write, in SQL dialect 1.
   The database itself is created with WIN1252 as its default character set, so every text
   column holds cp1252 bytes ("è" is 0xE8) and round-trips unchanged.
   Installed as share/vestrel/schema.sql: "vestrel-db create" runs it in a new, empty database and
   "vestrel-db check" compares a database with it; the tests and the demo use the same file. */

SET SQL DIALECT 1;

/* Operators: the reminders editor offers their codes (SIGLA) as the reminder's operator. */
CREATE TABLE OPERATORI (
    SIGLA          VARCHAR(2) NOT NULL PRIMARY KEY,
    DESCRIZIONE    VARCHAR(40),
    COLORE         INTEGER,
    FONT           VARCHAR(60),
    PERCENTUALE    DOUBLE PRECISION,
    OP_INTEST_FAT  VARCHAR(1),
    PWD            VARCHAR(20)
);

/* Workstations: the reminders editor offers their codes (SIGLA) as the reminder's workstation. */
CREATE TABLE POSTAZIONI (
    SIGLA          VARCHAR(2) NOT NULL PRIMARY KEY,
    DESCRIZIONE    VARCHAR(40)
);

/* One row per reminder. CRITERIO 0 once, 1 daily, 2 weekly, 3 monthly, 4 yearly; SOTTOCRITERIO holds
   the zero-based weekday, day or "day month" of the rule; FINACTIVE "1" switches a reminder off. */
CREATE TABLE RICORRENZE (
    ID             INTEGER NOT NULL PRIMARY KEY,
    POSTAZIONE     VARCHAR(2),
    UTENTE         VARCHAR(2),
    DESCRIZIONE    VARCHAR(60),
    MESSAGGIO      BLOB SUB_TYPE TEXT,
    CRITERIO       SMALLINT,
    SOTTOCRITERIO  VARCHAR(20),
    FINACTIVE      VARCHAR(1)
);

CREATE GENERATOR RICORR_ID_GEN;

/* Databases the backup service saves: rows with FINACTIVE = 0 are backed up. */
CREATE TABLE DB (
    ID             INTEGER NOT NULL PRIMARY KEY,
    DESCRIZIONE    VARCHAR(60),
    HOST           VARCHAR(60),
    FILEDB         VARCHAR(255),
    UID            VARCHAR(31),
    PWD            VARCHAR(31),
    FINACTIVE      SMALLINT DEFAULT 0
);

/* Accounting settings; the backup service reads the connection string of one more database
   from the first row's GDB_CONT. */
CREATE TABLE IMP_CONTAB (
    ID             INTEGER NOT NULL PRIMARY KEY,
    GDB_CONT       VARCHAR(255)
);

COMMIT;
