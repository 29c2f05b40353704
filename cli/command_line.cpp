#include "cli/command_line.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "cli/demo.h"
#include "cli/key_job.h"
#include "cli/keyer.h"
#include "cli/scene.h"

namespace nolukey {
namespace {

// Every failure message names its file first; this says which program it came from.
void PrintFailure(const char* what) { std::fprintf(stderr, "nolukey: %s\n", what); }

std::filesystem::path DefaultPlugin() {
    // The plugin library is built and installed beside the executable.
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path dir = ec ? std::filesystem::path(".") : self.parent_path();
    return dir / NOLU_PLUGIN_FILE_NAME;
}

bool ProgressWanted(bool quiet) { return !quiet && isatty(STDERR_FILENO) == 1; }

constexpr const char* kKeyFooter = R"(
Example:
  nolukey key --red1 r1_%04d.png --red2 r2_%04d.png --red3 r3_%04d.png \
              --green1 g1_%04d.png --green2 g2_%04d.png --green3 g3_%04d.png \
              -o keyed_%04d.png --preview check.mov

Inputs: still images (PNG, TIFF, JPEG, ...), numbered image sequences written as
a printf pattern (shot_%04d.png, starting at any number) or video files. All six
must have the same size.

Outputs, chosen by the name: .png (a single frame, RGBA), a numbered pattern
such as out_%04d.png, .mov (ProRes 4444 with alpha), .mkv (FFV1 with alpha,
lossless). Files appear only when complete; a failed run leaves none behind.

Frame numbers are red1's: for a numbered sequence the number in its file
names (shot_1001.png is frame 1001), otherwise the frame index from 0. --frames
takes these numbers and a numbered output keeps them, so chunks keyed on
different machines, e.g. --frames 1001:1100 and --frames 1101:1200 with the
same -o keyed_%04d.png, fill one sequence. Without --frames every frame of red1
is keyed; every input needs at least as many frames as the range reaches.

Exit codes: 0 done, 1 bad input or a failure while keying (one line on
stderr names the file and the problem), 2 wrong command line.)";

constexpr const char* kDemoFooter = R"(
Renders a 24-frame synthetic scene (opaque shapes, smoke, tinted glass and
hair-thin strands) three times over a red and three times over a green backdrop,
keys it exactly as `nolukey key` does, and prints how close the matte comes to
the scene's ground truth. Writes DIR/captures/, DIR/keyed_%04d.png,
DIR/keyed.mov and DIR/preview_%04d.png.

Example:
  nolukey demo /tmp/sample --noise heavy)";

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"nolukey keys a scene shot six times, three times over a red backdrop and three times over\n"
                 "a green one, into one clip with the foreground's opacity in its alpha channel.",
                 "nolukey"};
    app.set_version_flag("--version", std::string("nolukey ") + NOLU_VERSION);
    app.require_subcommand(1);
    app.footer("\nRun `nolukey key --help` or `nolukey demo --help` for each command.\n"
               "Exit codes: 0 done, 1 bad input or failure while keying, 2 wrong command line.");

    KeyJob job;
    std::string frames;
    std::string keyPlugin;
    bool keyQuiet = false;
    std::string output;
    CLI::App* key = app.add_subcommand("key", "Key six captures into one clip with alpha");
    const char* roleHelp[] = {"capture 1 over the red backdrop", "capture 2 over the red backdrop",
                              "capture 3 over the red backdrop", "capture 1 over the green backdrop (its colour is kept)",
                              "capture 2 over the green backdrop", "capture 3 over the green backdrop"};
    for (std::size_t i = 0; i < kRoles.size(); ++i) {
        key->add_option(std::string("--") + kRoles[i], job.inputs[i], roleHelp[i])->required()->type_name("FILE");
    }
    key->add_option("-o,--output", output, "where the keyed frames go (.png, out_%04d.png, .mov, .mkv)")
        ->required()
        ->type_name("OUT");
    key->add_option("--frames", frames, "key only frames FIRST to LAST, inclusive, in red1's frame numbers")
        ->type_name("FIRST:LAST")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseFrameRange(text) ? std::string() : "expected FIRST:LAST with 0 <= FIRST <= LAST";
            },
            "", "frame range"));
    key->add_option("--threads", job.threads, "frames keyed at once (default: one per core)")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
    key->add_option("--preview", job.preview, "also write the result laid over a background, to judge the key")
        ->type_name("FILE");
    key->add_option("--background", job.background,
                    "preview background: a colour (#336699, #369, grey, white, ...) or an image of the "
                    "inputs' size (default: a checkerboard)")
        ->type_name("COLOUR|IMAGE");
    key->add_option("--plugin", keyPlugin, "the keying plugin library (default: the one beside nolukey)")
        ->type_name("PATH");
    key->add_flag("-q,--quiet", keyQuiet, "no progress on stderr and no summary on stdout");
    key->footer(kKeyFooter);

    DemoOptions demo;
    std::string demoDir = "demo-out";
    std::string noise = "light";
    std::string demoPlugin;
    bool demoQuiet = false;
    CLI::App* demoCommand = app.add_subcommand("demo", "Render, key and measure the built-in sample scene");
    demoCommand->add_option("DIR", demoDir, "where to write it (default: ./demo-out)");
    demoCommand->add_option("--noise", noise, "sensor noise in the captures")
        ->check(CLI::IsMember({"none", "light", "heavy"}))
        ->type_name("none|light|heavy");
    demoCommand->add_option("--threads", demo.threads, "frames keyed at once (default: one per core)")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
    demoCommand->add_option("--plugin", demoPlugin, "the keying plugin library (default: the one beside nolukey)")
        ->type_name("PATH");
    demoCommand->add_flag("-q,--quiet", demoQuiet, "no progress on stderr");
    demoCommand->footer(kDemoFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version print and count as success; anything else is a usage error.
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    try {
        if (key->parsed()) {
            job.outputs = {output};
            if (!frames.empty()) {
                job.frames = ParseFrameRange(frames);
            }
            job.plugin = keyPlugin.empty() ? DefaultPlugin() : std::filesystem::path(keyPlugin);
            job.progress = ProgressWanted(keyQuiet);
            const KeySummary summary = RunKey(job);
            if (!keyQuiet) {
                std::printf("keyed frames %d to %d (%d frames) into %s in %.1f s, %.1f frames/s\n", summary.first,
                            summary.last, summary.frames, output.c_str(), summary.seconds,
                            summary.frames / summary.seconds);
            }
        } else {
            demo.dir = demoDir;
            demo.noise = noise == "none" ? kNoiseNone : noise == "heavy" ? kNoiseHeavy : kNoiseLight;
            demo.plugin = demoPlugin.empty() ? DefaultPlugin() : std::filesystem::path(demoPlugin);
            demo.progress = ProgressWanted(demoQuiet);
            RunDemo(demo, stdout);
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        PrintFailure(e.what());
        return kExitFailure;
    } catch (...) {
        PrintFailure("unexpected failure");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace nolukey
