#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// One HTTP exchange for the tests, made with QNetworkAccessManager while the
// caller's event loop keeps serving (the endpoint under test runs in it).
struct HttpReply {
    int status = 0;              // 0: no answer
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray header(const QByteArray& name) const;
};

HttpReply httpRequest(const QString& url, const QByteArray& method = "GET",
                      const QList<QPair<QByteArray, QByteArray>>& headers = {}, int timeoutMs = 5000);

// "name{labels}" -> value of every sample line of a metrics text.
QMap<QString, double> metricSamples(const QByteArray& text);
