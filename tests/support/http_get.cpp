#include "support/http_get.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

QByteArray HttpReply::header(const QByteArray& name) const {
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

HttpReply httpRequest(const QString& url, const QByteArray& method, const QList<QPair<QByteArray, QByteArray>>& headers,
                      int timeoutMs) {
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    for (const auto& h : headers)
        request.setRawHeader(h.first, h.second);
    QNetworkReply* reply = manager.sendCustomRequest(request, method);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    HttpReply out;
    if (!reply->isFinished()) {
        reply->abort();
        delete reply;
        return out;
    }
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.headers = reply->rawHeaderPairs();
    out.body = reply->readAll();
    delete reply;
    return out;
}

QMap<QString, double> metricSamples(const QByteArray& text) {
    QMap<QString, double> out;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.lastIndexOf(' ');
        out.insert(QString::fromUtf8(line.first(space)), line.sliced(space + 1).toDouble());
    }
    return out;
}
