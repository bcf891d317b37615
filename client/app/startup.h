#pragma once

// Loads the interface language of the locale file into the context's translator and installs it.
bool LoadTranslation();
// Reads the settings file, then sets the application font (the bundled font, or Arial).
void LoadApplicationFont();
