#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Writes the release's SPDX 2.3 document (JSON): the source package's files with
their licences and copyright from the REUSE data, each artifact with its checksums,
and the Debian packages of the tools that made it, as dpkg-query names them.
packaging/release.sh runs it once the artifacts are made; the same release folder,
sources and installed packages give the same bytes.

Usage: sbom.py DIST VERSION EPOCH SOURCE_TREE BUILDS OUTPUT
"""
import datetime
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

SUPPLIER = "Organization: gradebook developers (gradebook@example.org)"

# What packs each kind of file, beside the build that made its contents.
PACKERS = {".tar.gz": ["tar", "gzip"], ".zip": ["zip"], ".deb": ["dpkg-deb", "dpkg-shlibdeps"],
           ".msi": ["wixl", "msibuild", "faketime"], ".html": []}
# The static libraries the compiler links in, where it has them.
LIBRARIES = ["libstdc++.a", "libc++.a", "libc++abi.a", "libc.a", "libm.a", "libgcc.a",
             "libgcc_eh.a", "libmsvcrt.a", "libkernel32.a"]


def digest(path, algorithm):
    with open(path, "rb") as f:
        return hashlib.new(algorithm, f.read()).hexdigest()


def spdx_id(kind, name):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.]+", "-", name).strip("-")


def reuse_files(tree):
    """Each file of the tree that REUSE covers: its licences and copyright text."""
    report = subprocess.run(["reuse", "--root", tree, "spdx"], check=True,
                            capture_output=True, text=True).stdout
    files = {}
    for block in report.split("\n\n"):
        name = re.search(r"^FileName: \./(.*)$", block, re.M)
        if not name:
            continue
        licences = re.findall(r"^LicenseInfoInFile: (.*)$", block, re.M)
        copyright_text = re.search(r"^FileCopyrightText: <text>(.*?)</text>", block, re.S | re.M)
        files[name.group(1)] = (sorted(set(licences)) or ["NOASSERTION"],
                                copyright_text.group(1) if copyright_text else "NOASSERTION")
    return files


def debian_packages(paths):
    """The Debian packages that ship each file, by its own name or its target's, asked
    of dpkg-query once: it reads its whole database each time it starts."""
    names = {}
    for path in paths:
        aliases = {path, os.path.realpath(path)}
        # With /usr merged, dpkg knows a program of /bin by its old name.
        aliases |= {name[len("/usr"):] for name in set(aliases) if name.startswith("/usr/")}
        names[path] = aliases
    everything = sorted(set().union(*names.values()))
    done = subprocess.run(["dpkg-query", "-S"] + everything, capture_output=True, text=True)
    owners = {}
    for line in done.stdout.splitlines():
        packages, _, owned = line.rpartition(": ")
        if not packages.startswith("diversion by"):
            owners.setdefault(owned, set()).update(packages.split(", "))
    return {path: set().union(*(owners.get(name, set()) for name in aliases))
            for path, aliases in names.items()}


def build_tools(build):
    """The files a build ran, read or linked in: the compilers it found, the programs
    its cache names, the headers of the program's source, and the compiler's own
    libraries for the build's target."""
    files = set()
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for path in re.findall(r"^[A-Za-z0-9_]+:FILEPATH=(/.*)$", f.read(), re.M):
            if os.path.isfile(path) and os.access(path, os.X_OK):
                files.add(path)
    compilers = {}
    for found in glob.glob(os.path.join(build, "CMakeFiles", "*", "CMake*Compiler.cmake")):
        with open(found, encoding="utf-8") as f:
            compilers.update(re.findall(r'^set\(CMAKE_([A-Z]+)_COMPILER "(.+)"\)$', f.read(), re.M))
    for compiler in compilers.values():
        if shutil.which(compiler):
            files.add(shutil.which(compiler))
    # The headers the compiler read, and the libraries its link command chooses for
    # the target.
    program = os.path.join(build, "CMakeFiles", "gradebook.dir")
    for depfile in glob.glob(os.path.join(program, "src", "*.d")):
        with open(depfile, encoding="utf-8") as f:
            files |= {path for path in re.findall(r"(/usr/\S+)", f.read())
                      if os.path.isfile(path)}
    with open(os.path.join(program, "link.txt"), encoding="utf-8") as f:
        words = f.read().split()
    target = [word for word in words if re.match(r"(--target=|-m32$|-m64$|--sysroot=)", word)]
    compiler = [compilers["CXX"]] + target
    for library in LIBRARIES:
        path = subprocess.run(compiler + ["-print-file-name=" + library], check=True,
                              capture_output=True, text=True).stdout.strip()
        if os.path.isabs(path) and os.path.exists(path):
            files.add(os.path.normpath(path))
    return files


def toolchain(artifact, version, builds):
    """The files that made an artifact: its build's, its packers' and CMake."""
    name = re.fullmatch(rf"gradebook(?:-{re.escape(version)}-|_{re.escape(version)}_)"
                        r"(.+?)(\.tar\.gz|\.[a-z]+)", artifact)
    if not name:
        sys.exit(f"sbom: {artifact} is not named as a release's file")
    target, extension = name.groups()
    if extension not in PACKERS:
        sys.exit(f"sbom: nothing here says what packs a {extension} file ({artifact})")
    target = {"site": "web"}.get(target, target)
    if extension == ".deb":
        target = "deb-" + target
    programs = ["cmake"] + PACKERS[extension]
    files = {subprocess.run(["sh", "-c", 'command -v "$1"', "-", program], check=True,
                            capture_output=True, text=True).stdout.strip()
             for program in programs}
    if target != "source":
        build = os.path.join(builds, target)
        if not os.path.isdir(build):
            sys.exit(f"sbom: no build {build} for {artifact}")
        files |= build_tools(build)
    return files


def main():
    dist, version, epoch, tree, builds, output = sys.argv[1:]
    reused = reuse_files(tree)
    files, file_ids = [], []
    for top, folders, names in os.walk(tree):
        folders.sort()
        for name in names:
            path = os.path.join(top, name)
            relative = os.path.relpath(path, tree)
            licences, copyright_text = reused.get(relative, (["NOASSERTION"], "NOASSERTION"))
            file_ids.append(spdx_id("File", relative))
            files.append({
                "SPDXID": file_ids[-1], "fileName": "./" + relative,
                "checksums": [{"algorithm": "SHA1", "checksumValue": digest(path, "sha1")},
                              {"algorithm": "SHA256", "checksumValue": digest(path, "sha256")}],
                "licenseConcluded": "NOASSERTION", "licenseInfoInFiles": licences,
                "copyrightText": copyright_text})
    if len(set(file_ids)) != len(file_ids):
        sys.exit("sbom: two source files have the same SPDX identifier")
    files.sort(key=lambda f: f["fileName"])
    licences = sorted({licence for f in files for licence in f["licenseInfoInFiles"]}
                      - {"NOASSERTION", "NONE"})
    declared = " AND ".join(licences) or "NOASSERTION"
    copyright_lines = sorted({line.strip() for f in files
                              for line in f["copyrightText"].splitlines()
                              if line.strip().startswith("SPDX-FileCopyrightText:")})
    copyright_text = "\n".join(line.split(":", 1)[1].strip() for line in copyright_lines)
    # SPDX's package verification code: the SHA-1 of the files' sorted SHA-1s.
    code = hashlib.sha1("".join(sorted(f["checksums"][0]["checksumValue"] for f in files))
                        .encode()).hexdigest()

    sbom = f"gradebook-{version}.spdx.json"
    artifacts = sorted(name for name in os.listdir(dist)
                       if re.match(r"gradebook[-_]", name) and name != sbom)
    packages, relationships, tools, made_with = [], [], {}, {}
    source_id = None
    for artifact in artifacts:
        path = os.path.join(dist, artifact)
        package = {
            "SPDXID": spdx_id("Package", artifact), "name": "gradebook", "versionInfo": version,
            "packageFileName": artifact, "supplier": SUPPLIER, "downloadLocation": "NOASSERTION",
            "checksums": [{"algorithm": "SHA256", "checksumValue": digest(path, "sha256")}],
            "licenseConcluded": "NOASSERTION", "licenseDeclared": declared,
            "copyrightText": copyright_text}
        if artifact == f"gradebook-{version}-source.tar.gz":
            source_id = package["SPDXID"]
            package.update({"filesAnalyzed": True, "primaryPackagePurpose": "SOURCE",
                            "packageVerificationCode": {"packageVerificationCodeValue": code},
                            "licenseInfoFromFiles": licences or ["NOASSERTION"],
                            "hasFiles": [f["SPDXID"] for f in files]})
        else:
            package.update({"filesAnalyzed": False, "primaryPackagePurpose": "APPLICATION"})
        packages.append(package)
        relationships.append({"spdxElementId": "SPDXRef-DOCUMENT",
                              "relationshipType": "DESCRIBES",
                              "relatedSpdxElement": package["SPDXID"]})
        made_with[package["SPDXID"]] = toolchain(artifact, version, builds)
    if source_id is None:
        sys.exit("sbom: the release has no source package")
    for package in packages:
        if package["SPDXID"] != source_id:
            relationships.append({"spdxElementId": package["SPDXID"],
                                  "relationshipType": "GENERATED_FROM",
                                  "relatedSpdxElement": source_id})

    owners = debian_packages(set().union(*made_with.values()))
    for package_id, paths in made_with.items():
        for tool in set().union(*(owners[path] for path in paths)):
            tools.setdefault(tool, []).append(package_id)

    # Each tool's Debian package, named and versioned as dpkg-query reports it.
    for tool in sorted(tools):
        name, version_info, architecture = subprocess.run(
            ["dpkg-query", "-W", "-f=${Package}\t${Version}\t${Architecture}", tool],
            check=True, capture_output=True, text=True).stdout.split("\t")
        purl = (f"pkg:deb/debian/{name}@{urllib.parse.quote(version_info, safe='')}"
                f"?arch={architecture}")
        package_id = spdx_id("Debian", f"{name}-{architecture}")
        packages.append({
            "SPDXID": package_id, "name": name, "versionInfo": version_info,
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
            "copyrightText": "NOASSERTION",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": purl}]})
        for artifact_id in sorted(tools[tool]):
            relationships.append({"spdxElementId": package_id,
                                  "relationshipType": "BUILD_TOOL_OF",
                                  "relatedSpdxElement": artifact_id})

    created = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"gradebook-{version}",
        "creationInfo": {"created": created.strftime("%Y-%m-%dT%H:%M:%SZ"),
                         "creators": [SUPPLIER, "Tool: gradebook-release.sh"]},
        "packages": packages, "files": files, "relationships": relationships}
    # A namespace of its own for each release's contents, made from them.
    contents = json.dumps(document, sort_keys=True).encode()
    document["documentNamespace"] = ("https://example.org/gradebook/spdx/"
                                     f"gradebook-{version}-{hashlib.sha256(contents).hexdigest()}")
    with open(output, "w", encoding="utf-8") as f:
        json.dump(document, f, indent=1, sort_keys=True, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    main()
