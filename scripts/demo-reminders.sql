/* Sample reminders for the demo database; run in a database made by vestrel-db create. Each active rule
   below is due on any day it is run, until it is dismissed for its period. */
SET SQL DIALECT 1;

INSERT INTO OPERATORI (SIGLA, DESCRIZIONE) VALUES ('AN', 'Anna');
INSERT INTO OPERATORI (SIGLA, DESCRIZIONE) VALUES ('BR', 'Bruno');
INSERT INTO POSTAZIONI (SIGLA, DESCRIZIONE) VALUES ('P1', 'Sportello');
INSERT INTO POSTAZIONI (SIGLA, DESCRIZIONE) VALUES ('P2', 'Ufficio tecnico');

INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), NULL, NULL, 'Benvenuti in Vestrel',
    'Questo promemoria compare finché non viene nascosto.', 0, NULL, '0');
INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), NULL, NULL, 'Controllare la posta certificata',
    'Ogni giorno: aprire la casella PEC e protocollare i messaggi arrivati.', 1, NULL, '0');
INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), NULL, 'AN', 'Riunione del lunedì',
    'Preparare l''ordine del giorno della riunione settimanale.', 2, '0', '0');
INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), 'P1', NULL, 'Versamento IVA',
    'Verificare il versamento mensile dell''IVA.', 3, '0', '0');
INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), NULL, 'BR', 'Rinnovo assicurazione',
    'Il primo gennaio scade la polizza dell''ufficio.', 4, '0 0', '0');
INSERT INTO RICORRENZE VALUES (GEN_ID(RICORR_ID_GEN, 1), NULL, NULL, 'Promemoria sospeso',
    'Questo promemoria è inattivo e non compare mai.', 1, NULL, '1');
COMMIT;
