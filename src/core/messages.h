// Every fixed text written for the calling application or shown to the
// operator (message boxes, status texts, refusals), defined once here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "conversion/conversion_messages.h"

namespace kolibra {

// Error-file lines.
inline constexpr const char* kErrNoAnswer =
    "E504: Nessun messaggio ricevuto: controllare connessione con l'Ecr";
inline constexpr const char* kErrConversion = "E511: Errore di conversione del file di input";
inline constexpr const char* kErrNoPort = "E502: Nessuna porta di comunicazione disponibile";
inline constexpr const char* kErrNoCommandFile =
    "E506: Trasmissione non avvenuta: file di input non presente";
inline constexpr const char* kErrLinkSetup =
    "E512: Collegamento con l'Ecr non riuscito: controllare porta seriale o connessione di rete";
inline constexpr const char* kErrUncertain =
    "E520: Esito incerto: verificare sull'Ecr l'ultimo scontrino prima di ripetere l'invio";
inline constexpr const char* kErrNotRun =
    "E521: Lavoro non eseguito: Kolibra riavviato o chiuso, ripetere l'invio";
inline constexpr const char* kErrDumpGeneric =
    "Errore generico sull'Ecr, verificare sul manuale del registratore";
inline constexpr const char* kErrCommandFileUnreadable =
    "E513: File di input non leggibile da Kolibra: controllare i permessi del file";

// `kolibra submit`, on stderr, when the job has no error line to show.
inline constexpr const char* kSubmitSlotBusy =
    "Porta occupata da un altro lavoro: lavoro non inviato, ripetere l'invio";
// + the job file's name.
inline constexpr const char* kSubmitNotSent = "Lavoro non inviato, file della porta non scrivibile: ";
inline constexpr const char* kSubmitStillWaiting =
    "Tempo scaduto con il file di avvio ancora presente: il lavoro potrebbe essere ancora "
    "eseguito, attenderne l'esito prima di ripetere l'invio";
inline constexpr const char* kSubmitNoResult =
    "File di avvio sparito senza file di esito: esito incerto, verificare sull'Ecr l'ultimo "
    "scontrino prima di ripetere l'invio";

// Headless start-up without KBCHKSCO.TXT (+ the settings folder).
inline constexpr const char* kLinkNotConfigured =
    "Collegamento con l'Ecr non configurato, si prova la seriale (--serial-device N=PATH); "
    "per la rete 'kolibra ctl mode network' e 'kolibra ctl address A.B.C.D', oppure il file "
    "KBCHKSCO.TXT nella cartella ";
// After the slots that take jobs, once a dump has switched the others off.
inline constexpr const char* kOthersOffByDump = " (altre porte spente dal dump)";

// Lock refusals at start-up (+ the lock file's path) and the data folder's
// lock as checked at each tick (+ the data folder's path).
inline constexpr const char* kLockOfOtherUser =
    "File di blocco di un altro utente, Kolibra non parte: ";
inline constexpr const char* kLockUnusable = "File di blocco non utilizzabile, Kolibra non parte: ";
inline constexpr const char* kDataLockLost =
    "Cartella dati non piu' bloccata da questa copia di Kolibra, nessun lavoro eseguito: ";
inline constexpr const char* kDataLockRetaken = "Cartella dati di nuovo bloccata: ";
inline constexpr const char* kLockOtherSession =
    "Kolibra gia' in esecuzione in un'altra sessione di Windows, questa copia non parte: ";
inline constexpr const char* kLockFolderNotWritable =
    "Cartella non scrivibile da questo utente, Kolibra non parte: ";
// The data folder gives no change notifications (+ its path): jobs are found
// by the polling alone.
inline constexpr const char* kFolderWatchRefused =
    "Avvisi di modifica non disponibili per la cartella dati, lavori cercati a intervalli: ";

// Window texts.
inline constexpr const char* kStatusFinishedPrefix = "KOLIBRA TERMINATO : ";
inline constexpr const char* kDumpDone = "DUMP ESEGUITO";
inline constexpr const char* kDumpNotDone = "DUMP NON ESEGUITO";
inline constexpr const char* kDumpNotYetDone = "DUMP NON ANCORA ESEGUITO";
inline constexpr const char* kTrayIdleTip = "Kolibra in attesa esecuzione...";
inline constexpr const char* kTrayRunningTip = "Kolibra in esecuzione...";
inline constexpr const char* kClosingNotice = " Chiusura programma Kolibra in corso ...";
// Beside the polling value, in turn at each look at the data folder.
inline constexpr const char* kTimerTick = "Timer on";
inline constexpr const char* kTimerTock = "Timer ON";
// The address check.
inline constexpr const char* kAddressValid = "IP OK";
inline constexpr const char* kAddressInvalid = "IP non Valido";
// The reset button's caption while the connection closes.
inline constexpr const char* kResetClosingCaption = "In Chiusura ...";
// A setting the link uses, or a command on the link, while a job or dump runs.
inline constexpr const char* kBusyValueRefused = "Connessione in corso, valore non accettato";
inline constexpr const char* kBusyCommandRefused = "Connessione in corso, comando non accettato";
// A polling value that is not allowed: the one-second default is taken.
inline constexpr const char* kPollingValueRefused = "Valore non ammesso";
// Refusals of the operator's actions.
inline constexpr const char* kTestButtonDisabled = "Pulsante \" Esegui Test\" disattivato";
inline constexpr const char* kTestReceiptNoSlot =
    "Nessuna porta attiva con il dump eseguito: scontrino di prova non scritto";
inline constexpr const char* kTestReceiptNotWritten = "Scontrino di prova non scritto nella cartella dati";
inline constexpr const char* kSpeedRefused = "Velocita' non ammessa: 9600, 19200, 38400, 57600 o 115200";
inline constexpr const char* kSlotsRefused = "Porte: quattro cifre 0 o 1, per esempio 1100";
inline constexpr const char* kPaymentsRefused = "N. dei Pagamenti: 5, 6 o 8";
// After the box's name: a disabled box takes no click.
inline constexpr const char* kBoxDisabledSuffix = ": casella disattivata, valore non accettato";
// The status while a job is sent.
inline constexpr const char* kStatusSending = "TRASMISSIONE KOLIBRA IN CORSO ..";
// After a folder's path: it does not exist.
inline constexpr const char* kDirMissingSuffix = " : DIR NON ESISTENTE";
// The window's message boxes (+ the manual's path, before the suffix).
inline constexpr const char* kManualMissingPrefix = "File: ";
inline constexpr const char* kManualMissingSuffix = " non trovato";
inline constexpr const char* kManualNotOpened = "Operazione non eseguita: verificare presenza Reader ";
inline constexpr const char* kWinsockError = " Errore di connessione Winsock ";
// Why Windows must wait before a logoff or shutdown while a job runs.
inline constexpr const char* kSessionEndBlocked = "Scontrino in corso";

// A job kept waiting, in the status box.
inline constexpr const char* kStatusJournalNotWritten =
    "GIORNALE DEI LAVORI NON SCRIVIBILE: LAVORO IN ATTESA";
inline constexpr const char* kStatusStaleResult =
    "FILE DI ESITO PRECEDENTE NON CANCELLABILE: LAVORO IN ATTESA";
inline constexpr const char* kStatusOutcomeKept =
    "CARTELLA DATI NON DISPONIBILE: ESITO DEL LAVORO IN ATTESA";
// The test receipt refused because a job of the calling application waits.
inline constexpr const char* kTestReceiptJobWaiting =
    "Lavoro in attesa sulla porta: scontrino di prova non scritto";

// The line converter failed its start-up check.
inline constexpr const char* kConverterMissing =
    "ATTENZIONE: DLL Norvik.. non presenti, ripetere e verificare l'installazione";

// What stops a step on the link, shown in a message box as
// "Error <number> (<text>) in procedure <name> of Modulo Module1".
inline constexpr const char* kLinkPortNotOpen = "Operation valid only when the port is open";
inline constexpr const char* kLinkWrongState =
    "Wrong protocol or connection state for the requested transaction or request";
inline constexpr const char* kLinkFileAccess = "Path/File access error";
inline constexpr const char* kLinkBadReply = "Invalid procedure call or argument";
inline constexpr const char* kProcedureErrorPrefix = "Error ";
inline constexpr const char* kProcedureErrorIn = ") in procedure ";
inline constexpr const char* kProcedureErrorModule = " of Modulo Module1";

// Status texts of the network link: a socket error ("WS_Error n.<number> -
// <description> - <status>") and a connection that does not close.
inline constexpr const char* kSocketErrorPrefix = "WS_Error n.";
inline constexpr const char* kConnectionNotClosed = "ERRORE NELLA CHIUSURA DELLA CONNESSIONE";

// Replies of the operator's command channel.
inline constexpr const char* kControlBusy = "Kolibra occupato: troppe richieste insieme";
inline constexpr const char* kControlTooLong = "richiesta troppo lunga";
inline constexpr const char* kControlInternalError = "errore interno, comando interrotto";
// Why the command channel does not open: the folder's text ("la cartella
// <folder>" + kControlFolderUnsafe, also told by `kolibra ctl`), or the
// socket's name + kControlNameTaken, or a prefix + the socket's name.
inline constexpr const char* kControlFolderPrefix = "la cartella ";
inline constexpr const char* kControlFolderUnsafe =
    " deve essere dell'utente di Kolibra e scrivibile solo da lui";
inline constexpr const char* kControlNameTaken = " esiste e non e' un socket di Kolibra";
inline constexpr const char* kControlPathTooLong = "percorso troppo lungo: ";
inline constexpr const char* kControlOpenFailed = "impossibile aprire ";
// `kolibra ctl` refuses a socket or pipe of another user (after its name).
inline constexpr const char* kControlOtherOwner = " appartiene a un altro utente";
// `kolibra ctl stop` refused to a driver that the service manager runs: the
// manager stops it (an orderly exit would be taken as the service's end).
inline constexpr const char* kControlStopByService =
    "Kolibra gira come servizio: si ferma con 'systemctl stop kolibra'";
// The same as kControlNameTaken, where the endpoint is a named pipe.
inline constexpr const char* kControlPipeNameTaken = " esiste e non e' una pipe di Kolibra";
// --prepare-folders refuses a folder (+ its path).
inline constexpr const char* kPrepareFolderRefused =
    "cartella non adatta a Kolibra (radice di un disco, cartella di sistema, collegamento o file): ";
// A serial port that is refused ("Porta COM<n> non disponibile") or does not
// open ("Porta COM<n> non aperta"), and a connection to the ECR that does not
// come (+ the address); the log adds the system's reason after ": ".
inline constexpr const char* kPortPrefix = "Porta COM";
inline constexpr const char* kPortUnavailable = " non disponibile";
inline constexpr const char* kPortNotOpened = " non aperta";
inline constexpr const char* kConnectionNotMade = "Connessione con l'Ecr non riuscita all'indirizzo ";
// A job's result file cannot be written although the data folder is there
// (full disk, something in the way): its outcome waits and is tried again.
inline constexpr const char* kStatusResultNotWritten = "FILE DI ESITO NON SCRIVIBILE: ESITO DEL LAVORO IN ATTESA";

// Error-file text of a failed dump (any non-zero dump result code).
std::string DumpErrorText(int16_t result);
// "DUMP NON ESEGUITO : <result>".
std::string DumpFailedText(int16_t result);

// "Il file <path> non esiste", "... supera i <megabytes> MB", "... non si puo' leggere".
// "Error <number> (<description>) in procedure <procedure> of Modulo Module1".
std::string ProcedureErrorText(int number, const std::string& description, const std::string& procedure);
// "WS_Error n.<number> - <description> - <status>".
std::string SocketErrorText(int number, const std::string& description, int status);
// "la cartella <folder> deve essere dell'utente di Kolibra e scrivibile solo da lui".
std::string UnsafeFolderText(const std::string& folder);

}  // namespace kolibra
