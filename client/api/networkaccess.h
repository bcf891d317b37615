#pragma once

class QNetworkAccessManager;
class QObject;

// A network access manager for the client's requests. Before the first one, Qt's network-bearer polling (every
// interface, every ten seconds, for the life of the process) is switched off: nothing here asks for its results.
QNetworkAccessManager *NewNetworkAccessManager(QObject *parent = nullptr);
