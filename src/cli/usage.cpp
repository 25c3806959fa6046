#include "cli/usage.h"

#include <cstdio>

namespace tk::cli {

// The usage text is fixed byte for byte; its first line carries the build's version.
// clang-format off
const char* usageText() {
  return
    "torvik-cli " TK_VERSION "\n"
    "Usage:\n"
    "  dump-crc32 <out.json>     CRC32 vectors (parity with oracle golden/crc32.json)\n"
    "  dump-jsonfmt <out.json>   JSON formatting vectors (parity with golden/jsonfmt.json)\n"
    "  dump-ini <file.ini> <out.json> [--sections <preset>]\n"
    "                            canonical JSON of the INI parse (parity with\n"
    "                            golden/ini/*.json); --sections restricts output to\n"
    "                            a top-level property subset (parity with\n"
    "                            golden/ini-sections/*.<preset>.json). Presets:\n"
    "                            constants, ui-defs.\n"
    "  dump-expr <file.ini> <vectors.txt> <out.json>\n"
    "                            run an expression vector script against the INI\n"
    "                            (parity with golden/expr/*.json)\n"
    "  dump-tunefields <file.ini> <image.bin> <out.json>\n"
    "                            extract fields from a raw tune image, rebuild the\n"
    "                            pages, and parse output channels from the image\n"
    "                            head (parity with golden/tunefields/*.json)\n"
    "  dump-msq <file.msq> <out.json>\n"
    "                            canonical JSON of the MSQ parse (parity with\n"
    "                            golden/msq/*.json)\n"
    "  dump-msq-export <file.ini> <image.bin> <out.msq>\n"
    "                            extract a tune from a raw image (same slicing as\n"
    "                            dump-tunefields) and export TunerStudio MSQ XML\n"
    "                            with fixed author/writeDate (parity with\n"
    "                            golden/msq/*.msq)\n"
    "  dump-tunediff <file.ini> <imageA.bin> <imageB.bin> <out.json>\n"
    "                            extract a tune from each image and dump the\n"
    "                            TuneComparator diff report (parity with\n"
    "                            golden/tunediff/*.json)\n"
    "  dump-ecucmd <out.json>\n"
    "                            EcuCommandService protocol trace vectors against\n"
    "                            a deterministic scripted connection (parity with\n"
    "                            golden/ecucmd.json)\n"
    "  dump-tunecomms <out.json>\n"
    "                            TuneCommsService trace vectors (command building,\n"
    "                            CRC detection, signature/version, chunked page\n"
    "                            read/write/burn) against the scripted connection\n"
    "                            (parity with golden/tunecomms.json)\n"
    "  ecu-smoke <file.ini> [port]\n"
    "                            LIVE-HARDWARE smoke: connect to the ECU (auto-\n"
    "                            detects STM32 VCP if no port given), verify\n"
    "                            signature, read the full tune, chunk-write/\n"
    "                            restore a scratch area, then write + burn the\n"
    "                            just-read tune and verify the read-back. Leaves\n"
    "                            the ECU byte-identical. Not a golden gate.\n"
    "  ecu-detect [serial|tcp] [ip]\n"
    "                            scan serial ports (raw 'Q' probe at priority baud\n"
    "                            rates) or TCP bridges (ports 29001/29002; give an\n"
    "                            ip, else all local /24 subnets) for ECUs. Not a\n"
    "                            parity command.\n"
    "  dump-mlg <file.mlg> <out.csv>\n"
    "                            header + fields + all records as CSV (parity\n"
    "                            with golden/mlg/*.csv)\n"
    "  dump-project <file.tkproj> <out.json>\n"
    "                            open a project via ProjectManager (legacy tunes\n"
    "                            auto-upgrade, save disabled) and dump the loaded\n"
    "                            state (parity with golden/project/*.json)\n"
    "  dump-project-legacy <file.ini> <image.bin> <out.json>\n"
    "                            build the deterministic WP-10 legacy fixture in a\n"
    "                            temp dir, open it, dump the state\n"
    "\n"
    "AI-agent tuning commands (all take\n"
    "-p/--project <file.tkproj>, -f/--format json|text, --offline):\n"
    "  open-project, create-project --name N --ini F --folder D,\n"
    "  list-tables|-curves|-scalars|-fields [--page N]|-channels|-commands,\n"
    "  get-table|get-curve --id I, get-scalar|get-field --name N,\n"
    "  set-scalar|set-field [--index N]|set-bits --name N --value V,\n"
    "  set-table --id I --values JSON2D, set-table-cell --id I --row R --col C --value V,\n"
    "  set-curve --id I --values JSON, set-curve-point --id I --index N --value V, save,\n"
    "  connect, sync, burn, read-tune, send-command --name N, get-signature,\n"
    "  get-firmware, get-config-error, send-console --text T,\n"
    "  datalog --duration S --output F.mlg, read-channels [--channels A,B] [--count N]\n";
}
// clang-format on

void printUsage() {
  std::fputs(usageText(), stderr);
  std::fflush(stderr);
}

}  // namespace tk::cli
