#include "support/registry_fixture.h"

#include "protocol/framing.h"
#include "support/test_engine.h"

RegistryFixture::RegistryFixture(bool startNow) {
    RegistryOptions options;
    options.dataDir = dataDir.path();
    options.port = 5679;
    if (TestEngine::isPostgres()) {
        QString error;
        options.databaseUrl = TestEngine::newDatabase(&error);
        if (options.databaseUrl.isEmpty())
            qWarning("no PostgreSQL database for the registry: %s", qPrintable(error));
    }
    registry = std::make_unique<Registry>(net, clock, options);
    if (startNow)
        start();
}

RegistryFixture::RegistryFixture(const QString& databaseUrl, int leaseSeconds) {
    RegistryOptions options;
    options.dataDir = dataDir.path();
    options.port = 5679;
    options.databaseUrl = databaseUrl;
    options.databaseLeaseSeconds = leaseSeconds;
    registry = std::make_unique<Registry>(net, clock, options);
    start();
}

RegistryFixture::~RegistryFixture() { registry.reset(); }

bool RegistryFixture::start() {
    QString error;
    const bool ok = registry->start(&error);
    if (!ok)
        qWarning("registry start failed: %s", qPrintable(error));
    return ok;
}

int RegistryFixture::connect(const QByteArray& address) { return net.connectPeer(address); }

void RegistryFixture::runFor(quint32 ms) {
    for (quint32 t = 0; t < ms; t += 10) {
        clock.advance(10);
        registry->superviseSlots();
    }
}

QByteArray frame(quint8 type, const QByteArray& payload) {
    return Framing::frame(Framing::message(type, payload));
}
