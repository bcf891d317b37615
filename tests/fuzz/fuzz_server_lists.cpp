// The server-list reply as JSON through the builder of the full and smart lists and their look-ups.
#include "fuzz/fuzzsupport.h"

#include <QGuiApplication>
#include <QJsonDocument>

#include "servers/serverlists.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QGuiApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(Fuzz::bytes(data, size));
    ServerLists lists = BuildServerLists(document.array());
    for (const bool b2b : {false, true}) {
        const QList<TovraServer> &smart = b2b ? lists.smartB2b : lists.smart;
        for (const TovraServer &server : smart) {
            lists.hasSmartEntry(b2b, server.countryCode, ServerLists::Streaming);
            lists.setNearestCountry(b2b, server.countryCode);
        }
    }
    return 0;
}
