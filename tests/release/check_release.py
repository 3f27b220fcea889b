#!/usr/bin/env python3
"""Checks that the build's one version number reaches every place that shows
it, and (Windows build) that larkspur.exe carries its application manifest.

usage: check_release.py --version V --cli CLI [--emulator RUNNER]
                        --help-page HTML [--windres WINDRES --exe EXE...
                        --zip ZIP]

  --cli       larkspur-cli (run as RUNNER CLI --version when --emulator is given)
  --help-page the help page the build wrote (bin/help/index.html)
  --windres   windres of the cross build, which reads an executable's
              resources back as a resource script
  --exe       executables whose version resource is checked; the first is
              larkspur.exe, whose manifest is checked too
  --zip       the release zip
Exit code 0 when every check passed; one line per failed check.
"""
import argparse
import re
import subprocess
import sys
import zipfile

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def check_cli(args):
    command = ([args.emulator] if args.emulator else []) + [args.cli, "--version"]
    result = subprocess.run(command, capture_output=True, timeout=120)
    out = result.stdout.replace(b"\r\n", b"\n")
    check(result.returncode == 0, f"--version exits 0 (got {result.returncode})")
    check(out == f"larkspur-cli {args.version}\n".encode(), f"--version prints the version (got {out!r})")


def check_help_page(args):
    with open(args.help_page, "rb") as page:
        html = page.read()
    check(f"バージョン {args.version}<".encode("cp932") in html, "the help page says its version")
    check(b"@LARKSPUR_VERSION@" not in html, "the help page has no version placeholder left")


def resources(args, exe):
    result = subprocess.run([args.windres, "-i", exe, "-O", "rc"], capture_output=True, timeout=120)
    check(result.returncode == 0, f"windres reads {exe}")
    return result.stdout.decode("utf-8", "replace")


def check_version_resource(args, exe, script):
    numbers = [int(part) for part in args.version.split(".")]
    numbers += [0] * (4 - len(numbers))
    four = ", ".join(str(n) for n in numbers)
    name = exe.replace("\\", "/").rsplit("/", 1)[-1]
    check(re.search(rf"^ FILEVERSION {four}$", script, re.M) is not None, f"{name}: FILEVERSION {four}")
    check(re.search(rf"^ PRODUCTVERSION {four}$", script, re.M) is not None, f"{name}: PRODUCTVERSION {four}")
    for key in ("FileVersion", "ProductVersion"):
        check(f'VALUE "{key}", "{args.version}"' in script, f"{name}: {key} {args.version}")
    check(f'VALUE "OriginalFilename", "{name}"' in script, f"{name}: OriginalFilename {name}")


def manifest_text(script):
    # windres writes the manifest (resource 1 of type 24) as quoted lines.
    match = re.search(r"^1 24 .*?\nBEGIN\n(.*?)\nEND", script, re.M | re.S)
    if not match:
        return ""
    lines = re.findall(r'^\s*"(.*)"$', match.group(1), re.M)
    return "".join(line.replace('""', '"').replace("\\n", "\n") for line in lines)


def check_manifest(args, script):
    manifest = manifest_text(script)
    check(manifest != "", "larkspur.exe embeds a manifest (resource 1, type 24)")
    if not manifest:
        return
    check('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in re.sub(r"\s+", " ", manifest),
          "the manifest asks for common controls 6")
    check(">PerMonitorV2, PerMonitor</dpiAwareness>" in manifest, "the manifest declares per-monitor v2 DPI awareness")
    check(">true/pm</dpiAware>" in manifest, "the manifest has the dpiAware fallback")
    for system, guid in (("7", "35138b9a-5d96-4fbd-8e2d-a2440225f93a"),
                         ("10", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")):
        check(f'<supportedOS Id="{{{guid}}}"/>' in manifest, f"the manifest names Windows {system}")
    numbers = (args.version.split(".") + ["0"] * 4)[:4]
    check(f'version="{".".join(numbers)}"' in manifest, "the manifest's identity carries the version")


def check_zip(args):
    check(args.zip.endswith(f"larkspur-{args.version}-win64.zip"), "the zip is named after the version")
    with zipfile.ZipFile(args.zip) as archive:
        readme = archive.read("larkspur/README.txt")
        page = archive.read("larkspur/help/index.html")
    check(readme.startswith(f"\ufeffLarkspur Free! {args.version}\r\n".encode()), "the zip's README names the version")
    check(f"バージョン {args.version}<".encode("cp932") in page, "the zip's help page says its version")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--version", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--help-page", required=True)
    parser.add_argument("--windres")
    parser.add_argument("--exe", action="append", default=[])
    parser.add_argument("--zip")
    args = parser.parse_args()
    check_cli(args)
    check_help_page(args)
    for index, exe in enumerate(args.exe):
        script = resources(args, exe)
        check_version_resource(args, exe, script)
        if index == 0:
            check_manifest(args, script)
    if args.zip:
        check_zip(args)
    for what in failures:
        print(f"FAIL - {what}")
    print(f"release checks: {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
