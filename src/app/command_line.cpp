#include "app/command_line.h"

#include "database/database_url.h"
#include "host/registry_config.h"
#include "platform/build_version.h"

namespace {

// "--name value" and "--name=value" are both accepted.
bool takeValue(const QStringList& args, int& i, const QString& name, QString* value, QString* error) {
    const QString& arg = args.at(i);
    if (arg == name) {
        if (i + 1 >= args.size()) {
            *error = QStringLiteral("option %1 needs a value").arg(name);
            return true;
        }
        *value = args.at(++i);
        return true;
    }
    if (arg.startsWith(name + QLatin1Char('='))) {
        *value = arg.mid(name.size() + 1);
        return true;
    }
    return false;
}

// "--SECTION-KEY" for a section of tavregistry.conf: sets that key.
bool takeConfigKey(const QStringList& args, int& i, Configuration::Override* out, QString* error) {
    const QString& arg = args.at(i);
    if (!arg.startsWith(QLatin1String("--")))
        return false;
    const QString name = arg.mid(2).section(QLatin1Char('='), 0, 0);
    for (const ConfigSection& section : registryConfigSchema()) {
        const QString prefix = section.name + QLatin1Char('-');
        if (!name.startsWith(prefix) || name.size() == prefix.size())
            continue;
        QString value;
        takeValue(args, i, QStringLiteral("--") + name, &value, error);
        if (!error->isEmpty())
            return true;
        out->section = section.name;
        out->key = name.mid(prefix.size());
        out->value = value;
        ConfigValues probe = ConfigValues::defaults(registryConfigSchema());
        ConfigFile::applyOverride(registryConfigSchema(), probe, out->section, out->key, value, error);
        return true;
    }
    return false;
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine cl;
    auto fail = [&cl](const QString& text) {
        cl.outcome = Outcome::Error;
        cl.errorText = text;
        return cl;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        QString value;
        QString error;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            cl.outcome = Outcome::ShowHelp;
            return cl;
        }
        if (arg == QLatin1String("--version")) {
            cl.outcome = Outcome::ShowVersion;
            return cl;
        }
        if (arg == QLatin1String("--headless")) {
            cl.headless = true;
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--data-dir"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            if (value.isEmpty())
                return fail(QStringLiteral("--data-dir needs a folder"));
            cl.dataDir = value;
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--copy-to-database"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            if (value.isEmpty())
                return fail(QStringLiteral("--copy-to-database needs a database URL"));
            cl.copyToDatabase = value;
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--database"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            cl.overrides.append({QStringLiteral("database"), QStringLiteral("url"), value});
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--port"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (!ok || port > 65535)
                return fail(QStringLiteral("--port takes a number from 0 to 65535, not '%1'").arg(value));
            cl.port = quint16(port);
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--listen"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            QHostAddress address;
            if (!address.setAddress(value))
                return fail(QStringLiteral("--listen takes an IP address, not '%1'").arg(value));
            cl.listenAddress = address;
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--bus"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            if (value == QLatin1String("session"))
                cl.bus = Bus::Session;
            else if (value == QLatin1String("system"))
                cl.bus = Bus::System;
            else if (value == QLatin1String("none"))
                cl.bus = Bus::None;
            else
                return fail(QStringLiteral("--bus takes session, system or none, not '%1'").arg(value));
            continue;
        }
        // --http ADDRESS:PORT is [http] listen, the one setting of that
        // section people give most often.
        if (takeValue(arguments, i, QStringLiteral("--http"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            ConfigValues probe = ConfigValues::defaults(registryConfigSchema());
            if (!ConfigFile::applyOverride(registryConfigSchema(), probe, QStringLiteral("http"),
                                           QStringLiteral("listen"), value, &error))
                return fail(QStringLiteral("--http: ") + error);
            cl.overrides.append({QStringLiteral("http"), QStringLiteral("listen"), value});
            continue;
        }
        if (takeValue(arguments, i, QStringLiteral("--config"), &value, &error)) {
            if (!error.isEmpty())
                return fail(error);
            if (value.isEmpty())
                return fail(QStringLiteral("--config needs a file"));
            cl.configFile = value;
            continue;
        }
        Configuration::Override setting;
        if (takeConfigKey(arguments, i, &setting, &error)) {
            if (!error.isEmpty())
                return fail(error);
            cl.overrides.append(setting);
            continue;
        }
        return fail(QStringLiteral("unknown argument '%1' (see --help)").arg(arg));
    }
    // Other users see the command line of every process.
    QStringList urls;
    for (const Configuration::Override& o : cl.overrides)
        if (o.section == QLatin1String("database") && o.key == QLatin1String("url") && !o.value.isEmpty())
            urls << o.value;
    if (!cl.copyToDatabase.isEmpty())
        urls << cl.copyToDatabase;
    for (const QString& text : urls) {
        const std::optional<DatabaseUrl> url = DatabaseUrl::parse(text, nullptr);
        if (url && url->hasPassword())
            return fail(QStringLiteral("the database URL on the command line holds a password: put it in the file "
                                       "named by [database] password_file, or in ~/.pgpass or PGPASSFILE"));
    }
    return cl;
}

QString CommandLine::helpText(const QString& program) {
    return QStringLiteral(
        "Usage: %1 [OPTIONS]\n"
        "\n"
        "The Tarvane Classic Server Registry: game servers log in and report, game\n"
        "clients fetch the list of online servers, operator tools administer it.\n"
        "\n"
        "Options:\n"
        "  --data-dir DIR   the application folder: the database (qbrx.dat), the\n"
        "                   settings (server.ini) and the update files live there\n"
        "                   (default: the folder of this executable, or for a program\n"
        "                   installed in a bin/ folder $XDG_DATA_HOME/tavregistry,\n"
        "                   usually ~/.local/share/tavregistry; created if missing)\n"
        "  --port N         TCP port to listen on (default 5679; 0 takes a free port\n"
        "                   and the start-up line names it)\n"
        "  --listen ADDR    address to listen on (default 0.0.0.0)\n"
        "  --headless       run without windows or tray icon (also the default when\n"
        "                   neither DISPLAY nor WAYLAND_DISPLAY is set)\n"
        "  --bus BUS        where to publish the automation interface: session,\n"
        "                   system or none (default: session when reachable)\n"
        "  --database URL   keep accounts and bans in a PostgreSQL database shared by\n"
        "                   several registries: a libpq URI or key=value string\n"
        "                   (postgresql://tav@db.example/tav); the password comes\n"
        "                   from ~/.pgpass, PGPASSFILE or [database] password_file,\n"
        "                   never from the command line (default: qbrx.dat)\n"
        "  --copy-to-database URL\n"
        "                   copy every account and ban of the data folder's qbrx.dat\n"
        "                   into the PostgreSQL database at URL, whose tables must be\n"
        "                   empty (the password as for --database), then exit:\n"
        "                   0 copied, 1 failed, 3 the database is not empty\n"
        "  --config FILE    the registry's own settings for running as a service\n"
        "                   (sections [limits], [http], [database]; default:\n"
        "                   tavregistry.conf in the data folder when it exists);\n"
        "                   an unknown section or key or a bad value stops start-up\n"
        "  --http ADDR:PORT serve /metrics, /healthz, /servers.json and a status page\n"
        "                   over HTTP on that address (0 as the port takes a free one;\n"
        "                   the bound address is printed on standard error); the same\n"
        "                   as listen in [http]; empty: no HTTP listener (the default)\n"
        "  --SECTION-KEY VALUE\n"
        "                   sets KEY of [SECTION] of that file, over the file's value\n"
        "                   (read again on SIGHUP). The per-address limits, [limits]:\n"
        "                   --limits-connections_per_address N  regular slots one\n"
        "                       address may hold (0 = no limit; default 0)\n"
        "                   --limits-login_failures N  failed logins within\n"
        "                       login_window that lock the address out (0 = never;\n"
        "                       default 10)\n"
        "                   --limits-login_window S  seconds (default 60)\n"
        "                   --limits-lockout S  seconds locked out (default 300)\n"
        "                   --limits-registrations_per_hour N  accounts one address\n"
        "                       may create in any 60 minutes (0 = no limit; default 0)\n"
        "                   --limits-list_queries_per_second N  list queries one\n"
        "                       address may make a second; more are ignored\n"
        "                       (0 = no limit; default 0)\n"
        "                   --limits-exempt LIST  addresses and CIDR blocks, space-\n"
        "                       separated, that no limit applies to (default\n"
        "                       \"127.0.0.0/8 ::1\"; empty: nobody)\n"
        "                   --limits-operator_from LIST  if set, operators may log in\n"
        "                       only from these addresses and blocks\n"
        "  --version        print the version and exit\n"
        "  -h, --help       print this help and exit\n"
        "\n"
        "Every event line is printed on standard output, control characters escaped\n"
        "(\\n, \\x1b); diagnostics go to standard error, with syslog priority prefixes\n"
        "(<3>, <4>, <6>) when JOURNAL_STREAM says it is the journal.\n"
        "SIGTERM, SIGINT or SIGQUIT shuts the registry down cleanly (exit code 0);\n"
        "SIGHUP reads the --config file again (an invalid file is refused and the\n"
        "settings in force stay); SIGUSR1 and SIGUSR2 are ignored.\n"
        "Exit codes: 0 after a clean shutdown, 1 when start-up fails, 2 on bad arguments.\n"
        "With a shared database, [database] lease = S (default 30) is how long the\n"
        "accounts online at a registry that dies stay refused at the others.\n")
        .arg(program);
}

QString CommandLine::versionText(const QString& program) {
    return QStringLiteral("%1 %2\n").arg(program, QLatin1String(BuildVersion::kText));
}
