#pragma once

// Loads the interface language of the locale file into the context's translator and installs it.
bool LoadTranslation();
// Reads the settings file, then sets the application font (the bundled font, or Arial).
void LoadApplicationFont();

// Until StartLog(), debug and critical messages are held for the log instead of reaching the terminal; a fatal one
// (a platform plugin without a display) ends the process with exit code 1 instead of an abort.
void HoldEarlyMessages();
// Installs the log file's message handler and writes the held messages as the log's first lines.
void StartLog();
