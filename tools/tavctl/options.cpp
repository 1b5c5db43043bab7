#include "tavctl/options.h"

namespace {

bool takesValue(const QString& name) {
    return name == QLatin1String("--host") || name == QLatin1String("--port") ||
           name == QLatin1String("--timeout") || name == QLatin1String("--codes-file");
}

} // namespace

Options parseOptions(const QStringList& args, const QStringList& allowed) {
    Options o;
    bool onlyWords = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (onlyWords || !arg.startsWith(QLatin1String("--"))) {
            o.positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyWords = true;
            continue;
        }
        QString name = arg;
        QString value;
        bool hasValue = false;
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        const bool common = name == QLatin1String("--host") || name == QLatin1String("--port") ||
                            name == QLatin1String("--timeout");
        if (!common && !allowed.contains(name)) {
            o.error = QStringLiteral("unknown option %1").arg(name);
            return o;
        }
        if (takesValue(name) && !hasValue) {
            if (i + 1 >= args.size()) {
                o.error = QStringLiteral("option %1 needs a value").arg(name);
                return o;
            }
            value = args.at(++i);
        } else if (!takesValue(name) && hasValue) {
            o.error = QStringLiteral("option %1 takes no value").arg(name);
            return o;
        }
        bool ok = true;
        if (name == QLatin1String("--host")) {
            o.host = value;
            ok = !value.isEmpty();
        } else if (name == QLatin1String("--port")) {
            const uint port = value.toUInt(&ok);
            ok = ok && port >= 1 && port <= 65535;
            o.port = quint16(port);
        } else if (name == QLatin1String("--timeout")) {
            o.timeoutMs = value.toInt(&ok);
            ok = ok && o.timeoutMs > 0;
        } else if (name == QLatin1String("--codes-file")) {
            o.codesFile = value;
            ok = !value.isEmpty();
        } else if (name == QLatin1String("--json")) {
            o.json = true;
        } else if (name == QLatin1String("--yes")) {
            o.yes = true;
        }
        if (!ok) {
            o.error = QStringLiteral("bad value '%1' for %2").arg(value, name);
            return o;
        }
    }
    return o;
}
