#include "CliOptions.h"

#include <cmath>
#include <functional>
#include <vector>

namespace {
using Command = CliOptions::Command;

enum Scope : unsigned {
    InfoCmd = 1u << 0,
    TempoCmd = 1u << 1,
    PointsCmd = 1u << 2,
    SliceCmd = 1u << 3,
};

unsigned scopeOf(Command c) {
    switch (c) {
    case Command::Info: return InfoCmd;
    case Command::Tempo: return TempoCmd;
    case Command::Points: return PointsCmd;
    case Command::Slice: return SliceCmd;
    case Command::None: break;
    }
    return 0;
}

// Stores the option's value (empty for a flag); returns an error text, empty when fine.
using Apply = std::function<QString(CliOptions &, const QString &)>;

struct OptionRow {
    const char *name;
    const char *valueName; // null: a flag without value
    bool optionalValue;    // the value may be left out (then the next argument is only
                           // taken for it when it is a number)
    unsigned scope;
    const char *help;
    Apply apply;
};

QString positiveNumber(const QString &name, const QString &text, double *out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0.0)
        return QStringLiteral("%1 needs a positive number, not \"%2\"").arg(name, text);
    *out = v;
    return QString();
}

QString wholeNumber(const QString &name, const QString &text, int min, int max, int *out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return QStringLiteral("%1 needs a whole number from %2 to %3, not \"%4\"")
            .arg(name)
            .arg(min)
            .arg(max)
            .arg(text);
    *out = v;
    return QString();
}

QString positiveInteger(const QString &name, const QString &text, int max, int *out) {
    return wholeNumber(name, text, 1, max, out);
}

QString chooseMode(CliOptions &o, CliOptions::SliceMode mode) {
    if (o.mode != CliOptions::SliceMode::None && o.mode != mode)
        return QStringLiteral("choose one of --equal, --beats, --bars, --template and --transients");
    o.mode = mode;
    return QString();
}

constexpr unsigned kSlicing = PointsCmd | SliceCmd;

const std::vector<OptionRow> &optionTable() {
    using M = CliOptions::SliceMode;
    static const std::vector<OptionRow> table = {
        {"json", nullptr, false, InfoCmd | TempoCmd | PointsCmd, "one JSON object per file instead of text",
         [](CliOptions &o, const QString &) { o.json = true; return QString(); }},
        {"alternatives", nullptr, false, TempoCmd,
         "after the tempo, its confidence (0 to 1) and up to four other likely tempi, best first, each "
         "as BPM:RELATION (x2, 1/2, x3/2, x2/3)",
         [](CliOptions &o, const QString &) { o.alternatives = true; return QString(); }},
        {"equal", "N", false, kSlicing, "N slices of equal length",
         [](CliOptions &o, const QString &v) {
             const QString e = chooseMode(o, M::Equal);
             return e.isEmpty() ? positiveInteger("--equal", v, CliOptions::kMostSlices, &o.equalSlices) : e;
         }},
        {"beats", "N", false, kSlicing, "a slice every N beats",
         [](CliOptions &o, const QString &v) {
             const QString e = chooseMode(o, M::Beats);
             return e.isEmpty() ? positiveNumber("--beats", v, &o.interval) : e;
         }},
        {"bars", "N", false, kSlicing, "a slice every N bars of 4 beats",
         [](CliOptions &o, const QString &v) {
             const QString e = chooseMode(o, M::Bars);
             return e.isEmpty() ? positiveNumber("--bars", v, &o.interval) : e;
         }},
        {"template", "FILE", false, kSlicing, "the slice points of a slice template (.qlst)",
         [](CliOptions &o, const QString &v) {
             const QString e = chooseMode(o, M::Template);
             o.templatePath = v;
             return e;
         }},
        {"transients", "SENS", true, kSlicing,
         "slices at the detected hits, as the window's Slice at Transients; SENS from 0 (only the "
         "strongest hits) to 100 (every candidate), default {sensitivity}",
         [](CliOptions &o, const QString &v) {
             const QString e = chooseMode(o, M::Transients);
             if (!e.isEmpty() || v.isNull())
                 return e;
             bool ok = false;
             const double s = v.toDouble(&ok);
             if (!ok || !(s >= 0.0 && s <= 100.0))
                 return QStringLiteral("--transients takes a sensitivity from 0 to 100, not \"%1\"").arg(v);
             o.sensitivity = s;
             return QString();
         }},
        {"min-length", "MS", false, kSlicing,
         "with --transients: the shortest slice in milliseconds (default {min-length})",
         [](CliOptions &o, const QString &v) {
             bool ok = false;
             const double ms = v.toDouble(&ok);
             if (!ok || !(ms >= 0.0 && ms <= Settings::maxTransientMinLengthMs))
                 return QStringLiteral("--min-length takes milliseconds from 0 to %1, not \"%2\"")
                     .arg(Settings::maxTransientMinLengthMs)
                     .arg(v);
             o.minLengthMs = ms;
             o.minLengthGiven = true;
             return QString();
         }},
        {"snap", nullptr, false, kSlicing,
         "move equal slice points to the nearest zero crossing, transient slice points to one just "
         "before the hit",
         [](CliOptions &o, const QString &) { o.snap = true; return QString(); }},
        {"tempo", "BPM", false, kSlicing,
         "use this tempo for --beats and --bars, and as the tempo --kit and --cues write, instead of the "
         "detected one",
         [](CliOptions &o, const QString &v) { return positiveNumber("--tempo", v, &o.tempo); }},
        {"out", "DIR", false, SliceCmd, "the folder that receives one folder of slices per input",
         [](CliOptions &o, const QString &v) { o.outDir = v; return QString(); }},
        {"format", "wav|aiff|flac", false, SliceCmd, "container of the slice files (default wav)",
         [](CliOptions &o, const QString &v) {
             const QString f = v.toLower();
             if (f != "wav" && f != "aiff" && f != "flac")
                 return QStringLiteral("--format takes wav, aiff or flac, not \"%1\"").arg(v);
             o.format = f;
             return QString();
         }},
        {"bits", "16|24|32f", false, SliceCmd, "sample format (default: the export preference)",
         [](CliOptions &o, const QString &v) {
             if (v == "16" || v == "24")
                 o.bits = v.toInt();
             else if (v == "32f")
                 o.bits = 32;
             else
                 return QStringLiteral("--bits takes 16, 24 or 32f, not \"%1\"").arg(v);
             return QString();
         }},
        {"rate", "HZ", false, SliceCmd, "sample rate of the slice files (default: the export preference)",
         [](CliOptions &o, const QString &v) { return wholeNumber("--rate", v, 1000, 768000, &o.rate); }},
        {"jobs", "N", false, SliceCmd | InfoCmd | TempoCmd | PointsCmd, "files worked on at once (default: one per core)",
         [](CliOptions &o, const QString &v) { return positiveInteger("--jobs", v, 1024, &o.jobs); }},
        {"overwrite", nullptr, false, SliceCmd, "replace slice files that exist already",
         [](CliOptions &o, const QString &) { o.overwrite = true; return QString(); }},
        {"kit", "sfz|hydrogen|decentsampler", false, SliceCmd,
         "write the slices as a sampler kit (WAV samples and a MIDI file of the loop) instead of "
         "numbered files",
         [](CliOptions &o, const QString &v) {
             const QString k = v.toLower();
             if (k != "sfz" && k != "hydrogen" && k != "decentsampler")
                 return QStringLiteral("--kit takes sfz, hydrogen or decentsampler, not \"%1\"").arg(v);
             o.kit = k;
             return QString();
         }},
        {"cues", nullptr, false, SliceCmd,
         "also write the whole loop (NAME.wav or .aiff) with the slice points as cue markers and its tempo",
         [](CliOptions &o, const QString &) { o.cues = true; return QString(); }},
    };
    return table;
}

const OptionRow *findOption(const QString &name) {
    for (const OptionRow &row : optionTable())
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

struct CommandRow {
    Command command;
    const char *name;
    const char *synopsis;
    const char *summary;
};

const std::vector<CommandRow> &commandTable() {
    static const std::vector<CommandRow> table = {
        {Command::Info, "info", "FILE...", "format, sample rate, channels, length and tempo, a line per file"},
        {Command::Tempo, "tempo", "FILE...", "FILE<TAB>BPM, the tempo the window detects"},
        {Command::Points, "points", "FILE (--equal N | --beats N | --bars N | --template FILE | --transients [SENS])",
         "the slice points as frame numbers, one a line"},
        {Command::Slice, "slice", "FILE_OR_FOLDER... --out DIR (--equal N | --beats N | --bars N | --template FILE | --transients [SENS])",
         "writes the slices of every input into a folder of its own under DIR"},
    };
    return table;
}
} // namespace

bool parseCommandLine(const QStringList &arguments, CliOptions *options, QString *error) {
    CliOptions o;
    if (arguments.isEmpty()) {
        *error = QStringLiteral("no subcommand given");
        return false;
    }
    const QString first = arguments.first();
    if (first == "--help" || first == "-h" || first == "help") {
        o.help = true;
        *options = o;
        return true;
    }
    for (const CommandRow &c : commandTable())
        if (first == QLatin1String(c.name))
            o.command = c.command;
    if (o.command == Command::None) {
        *error = QStringLiteral("unknown subcommand \"%1\"").arg(first);
        return false;
    }
    options->command = o.command; // for the usage text when the rest is refused

    bool onlyInputs = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (onlyInputs || !arg.startsWith('-') || arg == "-") {
            o.inputs.append(arg);
            continue;
        }
        if (arg == "--") {
            onlyInputs = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        QString name = arg.mid(2);
        QString value;
        bool inlineValue = false;
        const int eq = name.indexOf('=');
        if (eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        const OptionRow *row = arg.startsWith("--") ? findOption(name) : nullptr;
        if (!row || !(row->scope & scopeOf(o.command))) {
            *error = QStringLiteral("%1 does not take the option %2").arg(first, arg);
            return false;
        }
        if (row->valueName && !inlineValue && row->optionalValue) {
            // "--transients loop.wav" must not take the file for the value.
            bool isNumber = false;
            if (i + 1 < arguments.size())
                arguments.at(i + 1).toDouble(&isNumber);
            if (isNumber)
                value = arguments.at(++i);
        } else if (row->valueName && !inlineValue) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("--%1 needs a value (%2)").arg(name, row->valueName);
                return false;
            }
            value = arguments.at(++i);
        } else if (!row->valueName && inlineValue) {
            *error = QStringLiteral("--%1 takes no value").arg(name);
            return false;
        }
        const QString problem = row->apply(o, value);
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
    }
    if (o.help) {
        *options = o;
        return true;
    }

    if (o.inputs.isEmpty()) {
        *error = QStringLiteral("%1 needs at least one input file").arg(first);
        return false;
    }
    const bool slicing = o.command == Command::Points || o.command == Command::Slice;
    if (slicing && o.mode == CliOptions::SliceMode::None) {
        *error = QStringLiteral("%1 needs one of --equal, --beats, --bars, --template and --transients").arg(first);
        return false;
    }
    if (o.minLengthGiven && o.mode != CliOptions::SliceMode::Transients) {
        *error = QStringLiteral("--min-length goes with --transients");
        return false;
    }
    if (!o.kit.isEmpty() && o.format != "wav") {
        *error = QStringLiteral("--kit writes WAV samples; leave out --format or give wav");
        return false;
    }
    if (o.cues && o.format == "flac") {
        *error = QStringLiteral("--cues needs --format wav or aiff: FLAC files hold no cue markers");
        return false;
    }
    if (o.command == Command::Points && !o.json && o.inputs.size() > 1) {
        *error = QStringLiteral("points takes one file (or several with --json)");
        return false;
    }
    if (o.command == Command::Slice && o.outDir.isEmpty()) {
        *error = QStringLiteral("slice needs --out DIR");
        return false;
    }
    *options = o;
    return true;
}

QString usageText(CliOptions::Command command) {
    QString text;
    if (command == Command::None) {
        text += QStringLiteral("Usage: quillory-cli SUBCOMMAND [OPTIONS] FILE...\n\nSubcommands:\n");
        for (const CommandRow &c : commandTable())
            text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(c.name), -7).arg(c.summary);
        text += QStringLiteral("\n'quillory-cli SUBCOMMAND --help' lists its options; see also quillory-cli(1).\n"
                               "Exit status: 0 all done, 1 a file failed, 2 usage error, 130 interrupted (a second\n"
                               "Ctrl+C stops at once; only whole files are left either way).\n");
        return text;
    }
    for (const CommandRow &c : commandTable()) {
        if (c.command != command)
            continue;
        text += QStringLiteral("Usage: quillory-cli %1 %2 [OPTIONS]\n%3\n\nOptions:\n")
                    .arg(c.name, c.synopsis)
                    .arg(QString::fromLatin1(c.summary).left(1).toUpper() + QString::fromLatin1(c.summary).mid(1) +
                         QLatin1Char('.'));
    }
    for (const OptionRow &row : optionTable()) {
        if (!(row.scope & scopeOf(command)))
            continue;
        QString left = QStringLiteral("--") + row.name;
        if (row.valueName)
            left += QLatin1Char(' ') + (row.optionalValue ? QStringLiteral("[%1]").arg(row.valueName)
                                                           : QString::fromLatin1(row.valueName));
        // Defaults come from the code that owns them, so the text never goes stale.
        const QString help = QString::fromLatin1(row.help)
                                 .replace(QLatin1String("{sensitivity}"),
                                          QString::number(OnsetDetector::defaultSensitivity))
                                 .replace(QLatin1String("{min-length}"),
                                          QString::number(Settings::defaultTransientMinLengthMs));
        text += QStringLiteral("  %1  %2\n").arg(left, -22).arg(help);
    }
    text += QStringLiteral("  %1  %2\n").arg(QStringLiteral("--help"), -22).arg("this text");
    return text;
}
