#pragma once

#include "OnsetDetector.h"
#include "Settings.h"

#include <QString>
#include <QStringList>

// The parsed command line of quillory-cli. Every option is one row of a table in
// CliOptions.cpp (name, value, the subcommands that take it, help text, how it is
// stored), so a new option is one row and one field here.
struct CliOptions {
    enum class Command { None, Info, Tempo, Points, Slice };
    enum class SliceMode { None, Equal, Beats, Bars, Template, Transients };

    Command command = Command::None;
    bool help = false;
    QStringList inputs;

    bool json = false;
    bool alternatives = false; // tempo: also the confidence and the ranked alternatives

    SliceMode mode = SliceMode::None;
    // Slices one run may cut a loop into, however they are chosen.
    static constexpr int kMostSlices = 100000;
    int equalSlices = 0;
    double interval = 0.0; // beats or bars per slice
    QString templatePath;
    // The window's defaults, not the user's preferences, so that a script gives the same
    // points on every machine.
    double sensitivity = OnsetDetector::defaultSensitivity;
    double minLengthMs = Settings::defaultTransientMinLengthMs;
    bool minLengthGiven = false;
    bool snap = false;
    double tempo = 0.0; // 0: the detected tempo

    QString outDir;
    QString format = QStringLiteral("wav");
    int bits = 0;       // 0: the export preference
    int rate = 0;       // 0: the export preference
    int jobs = 0;       // 0: one per core
    bool overwrite = false;
    QString kit;       // slice: "sfz", "hydrogen" or "decentsampler"; empty for plain slices
    bool cues = false; // slice: also the whole loop with the slice points as cue markers
};

// Fills options from the arguments (without the program name). False with a message
// for the user when the command line is not usable; options->command then names the
// subcommand when it was recognised.
bool parseCommandLine(const QStringList &arguments, CliOptions *options, QString *error);

// The short usage of one subcommand, or of the program for Command::None.
QString usageText(CliOptions::Command command);
