#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Writes the release's SPDX 2.3 document (JSON): the source package's files with
their licences and copyright from the REUSE data, each artifact with its checksums
and the files it holds, each program with the runtime libraries linked into it,
and the Debian packages of the tools that made it, as dpkg-query names them.
packaging/release.sh runs it once the artifacts are made; the same release folder,
sources and installed packages give the same bytes.

Usage: sbom.py DIST VERSION EPOCH SOURCE_TREE BUILDS OUTPUT
"""
import datetime
import glob
import hashlib
import io
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import urllib.parse
import zipfile

SUPPLIER = "Organization: gradebook developers (gradebook@example.org)"

# What packs each kind of file, beside the build that made its contents.
PACKERS = {".tar.gz": ["tar", "gzip"], ".zip": ["zip"], ".deb": ["dpkg-deb", "dpkg-shlibdeps"],
           ".msi": ["wixl", "msibuild", "faketime"], ".html": []}
# The names the program has inside an archive (the site's page holds it).
PROGRAMS = {"gradebook", "gradebook.exe", "index.html"}


def digest(path, algorithm):
    with open(path, "rb") as f:
        return hashlib.new(algorithm, f.read()).hexdigest()


def spdx_id(kind, name):
    return f"SPDXRef-{kind}-" + re.sub(r"[^A-Za-z0-9.]+", "-", name).strip("-")


def verification_code(sha1s):
    """SPDX's package verification code: the SHA-1 of the files' sorted SHA-1s."""
    return hashlib.sha1("".join(sorted(sha1s)).encode()).hexdigest()


def checksums(data):
    return [{"algorithm": "SHA1", "checksumValue": hashlib.sha1(data).hexdigest()},
            {"algorithm": "SHA256", "checksumValue": hashlib.sha256(data).hexdigest()}]


def members(path):
    """The files an archive holds, each name with its bytes, in the order of their
    names: a .tar.gz's, a .zip's, a .deb's data and an MSI's, as msiextract writes
    them; nothing for a file that is no archive."""
    found = {}
    if path.endswith((".tar.gz", ".deb")):
        if path.endswith(".deb"):
            data = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], check=True,
                                  capture_output=True).stdout
            tar = tarfile.open(fileobj=io.BytesIO(data))
        else:
            tar = tarfile.open(path)
        with tar:
            for member in tar.getmembers():
                if member.isfile():
                    found[os.path.normpath(member.name)] = tar.extractfile(member).read()
    elif path.endswith(".zip"):
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                if not info.is_dir():
                    found[info.filename] = z.read(info)
    elif path.endswith(".msi"):
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run(["msiextract", "-C", folder, path], check=True,
                           capture_output=True)
            for top, _, names in os.walk(folder):
                for name in names:
                    with open(os.path.join(top, name), "rb") as f:
                        found[os.path.relpath(os.path.join(top, name), folder)] = f.read()
    return dict(sorted(found.items()))


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
    of dpkg-query once: it reads its whole database each time it starts. A file that
    several architectures' copies of one package share (a header of
    linux-libc-dev, installed through multiarch) is the build machine's copy's."""
    names = {}
    for path in paths:
        aliases = {path, os.path.realpath(path)}
        # With /usr merged, dpkg knows a program of /bin by its old name.
        aliases |= {name[len("/usr"):] for name in set(aliases) if name.startswith("/usr/")}
        names[path] = aliases
    everything = sorted(set().union(*names.values()))
    done = subprocess.run(["dpkg-query", "-S"] + everything, capture_output=True, text=True)
    native = subprocess.run(["dpkg", "--print-architecture"], check=True,
                            capture_output=True, text=True).stdout.strip()
    owners = {}
    for line in done.stdout.splitlines():
        packages, _, owned = line.rpartition(": ")
        if not packages.startswith("diversion by"):
            owners.setdefault(owned, set()).update(packages.split(", "))
    result = {}
    for path, aliases in names.items():
        found = set().union(*(owners.get(name, set()) for name in aliases))
        shared = {package for package in found if ":" in package and
                  f"{package.split(':')[0]}:{native}" in found}
        result[path] = found - {package for package in shared
                                if not package.endswith(f":{native}")}
    return result


def linked_files(build):
    """What the linker took into the build's program, each file as static (an
    archive or object, copied into the program) or dynamic (a shared library):
    its link command run again, into another file, with the linker's trace."""
    with open(os.path.join(build, "CMakeFiles", "gradebook.dir", "link.txt"),
              encoding="utf-8") as f:
        command = next(line for line in f.read().splitlines() if " -o " in line)
    words = shlex.split(command)
    with tempfile.TemporaryDirectory() as folder:
        words[words.index("-o") + 1] = os.path.join(folder, "program")
        done = subprocess.run(words + ["-Wl,--trace"], cwd=build, capture_output=True,
                              text=True)
    if done.returncode:
        sys.exit(f"sbom: the link of {build} did not run again:\n{done.stderr}")
    linked = {}
    for line in done.stdout.splitlines():
        # GNU ld names an archive member as (archive)member; lld, archive(member).
        path = re.match(r"\(?(/[^()]+)", line.strip())
        if not path or not os.path.isfile(path.group(1)):
            continue
        path = os.path.normpath(path.group(1))
        if re.search(r"\.(a|o|obj)$", path):
            linked[path] = "static"
            continue
        # A shared library is the file it links to (its -dev package's name for it is
        # a link); one of text is a linker script, which names the libraries it
        # stands for, traced in turn.
        with open(path, "rb") as f:
            if f.read(4) == b"\x7fELF":
                linked[os.path.realpath(path)] = "dynamic"
    return linked


def build_tools(build):
    """The files a build ran or read, and those it linked into the program: the
    compilers it found, the programs its cache names, the headers of the program's
    source, and what its linker took."""
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
    program = os.path.join(build, "CMakeFiles", "gradebook.dir")
    for depfile in glob.glob(os.path.join(program, "src", "*.d")):
        with open(depfile, encoding="utf-8") as f:
            files |= {path for path in re.findall(r"(/usr/\S+)", f.read())
                      if os.path.isfile(path)}
    return files, linked_files(build)


def toolchain(artifact, version, builds):
    """The files that made an artifact (its build's, its packers' and CMake), and
    those linked into its program."""
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
    if target == "source":
        return files, {}
    build = os.path.join(builds, target)
    if not os.path.isdir(build):
        sys.exit(f"sbom: no build {build} for {artifact}")
    tools, linked = build_tools(build)
    return files | tools, linked


def file_element(spdx_id_, name, data, licences=("NOASSERTION",),
                 copyright_text="NOASSERTION"):
    return {"SPDXID": spdx_id_, "fileName": "./" + name, "checksums": checksums(data),
            "licenseConcluded": "NOASSERTION", "licenseInfoInFiles": list(licences),
            "copyrightText": copyright_text}


def analysed(package, owned):
    """A package whose files are listed: its verification code and licences."""
    found = {licence for f in owned for licence in f["licenseInfoInFiles"]}
    package.update({
        "filesAnalyzed": True, "hasFiles": [f["SPDXID"] for f in owned],
        "packageVerificationCode": {"packageVerificationCodeValue": verification_code(
            c["checksumValue"] for f in owned for c in f["checksums"]
            if c["algorithm"] == "SHA1")},
        "licenseInfoFromFiles": sorted(found - {"NOASSERTION"}) or ["NOASSERTION"]})


def main():
    dist, version, epoch, tree, builds, output = sys.argv[1:]
    reused = reuse_files(tree)
    sources = []
    for top, folders, names in os.walk(tree):
        folders.sort()
        for name in names:
            path = os.path.join(top, name)
            relative = os.path.relpath(path, tree)
            licences, copyright_text = reused.get(relative, (["NOASSERTION"], "NOASSERTION"))
            with open(path, "rb") as f:
                sources.append(file_element(spdx_id("File", relative), relative, f.read(),
                                            licences, copyright_text))
    sources.sort(key=lambda f: f["fileName"])
    licences = sorted({licence for f in sources for licence in f["licenseInfoInFiles"]}
                      - {"NOASSERTION", "NONE"})
    declared = " AND ".join(licences) or "NOASSERTION"
    copyright_lines = sorted({line.strip() for f in sources
                              for line in f["copyrightText"].splitlines()
                              if line.strip().startswith("SPDX-FileCopyrightText:")})
    copyright_text = "\n".join(line.split(":", 1)[1].strip() for line in copyright_lines)

    sbom = f"gradebook-{version}.spdx.json"
    artifacts = sorted(name for name in os.listdir(dist)
                       if re.match(r"gradebook[-_]", name) and name != sbom)
    packages, files, relationships, tools, made_with = [], list(sources), [], {}, {}
    links = {}  # an element of a program: what was linked into it, and how
    source_id = None
    for artifact in artifacts:
        path = os.path.join(dist, artifact)
        package = {
            "SPDXID": spdx_id("Package", artifact), "name": "gradebook", "versionInfo": version,
            "packageFileName": artifact, "supplier": SUPPLIER, "downloadLocation": "NOASSERTION",
            "checksums": [{"algorithm": "SHA256", "checksumValue": digest(path, "sha256")}],
            "licenseConcluded": "NOASSERTION", "licenseDeclared": declared,
            "copyrightText": copyright_text}
        made_with[package["SPDXID"]], linked = toolchain(artifact, version, builds)
        if artifact == f"gradebook-{version}-source.tar.gz":
            source_id = package["SPDXID"]
            package["primaryPackagePurpose"] = "SOURCE"
            analysed(package, sources)
        else:
            package["primaryPackagePurpose"] = "APPLICATION"
            held = [file_element(spdx_id("File", f"{artifact}/{name}"), name, data)
                    for name, data in members(path).items()]
            if held:
                analysed(package, held)
                files += held
                links.update((f["SPDXID"], linked) for f in held
                             if os.path.basename(f["fileName"]) in PROGRAMS)
            else:
                # A page is its program.
                package["filesAnalyzed"] = False
                links[package["SPDXID"]] = linked
        relationships += [{"spdxElementId": package["SPDXID"], "relationshipType": "CONTAINS",
                           "relatedSpdxElement": i} for i in package.get("hasFiles", [])]
        packages.append(package)
        relationships.append({"spdxElementId": "SPDXRef-DOCUMENT",
                              "relationshipType": "DESCRIBES",
                              "relatedSpdxElement": package["SPDXID"]})
    if source_id is None:
        sys.exit("sbom: the release has no source package")
    ids = [f["SPDXID"] for f in files]
    if len(set(ids)) != len(ids):
        sys.exit("sbom: two files have the same SPDX identifier")
    files.sort(key=lambda f: (f["fileName"], f["SPDXID"]))
    for package in packages:
        if package["SPDXID"] != source_id:
            relationships.append({"spdxElementId": package["SPDXID"],
                                  "relationshipType": "GENERATED_FROM",
                                  "relatedSpdxElement": source_id})

    owners = debian_packages(set().union(*made_with.values(), *links.values()))
    for package_id, paths in made_with.items():
        for tool in set().union(*(owners[path] for path in paths)):
            tools.setdefault(tool, {}).setdefault("BUILD_TOOL_OF", set()).add(package_id)
    # A static library or object is copied into the program; a shared library is
    # loaded with it.
    for element_id, linked in links.items():
        for path, how in linked.items():
            kind = "STATIC_LINK" if how == "static" else "DYNAMIC_LINK"
            for library in owners[path]:
                tools.setdefault(library, {}).setdefault(kind, set()).add(element_id)

    # Each Debian package, named and versioned as dpkg-query reports it.
    for tool in sorted(tools):
        name, version_info, architecture, source, source_version = subprocess.run(
            ["dpkg-query", "-W", "-f=${Package}\t${Version}\t${Architecture}\t"
             "${source:Package}\t${source:Version}", tool],
            check=True, capture_output=True, text=True).stdout.split("\t")
        purl = (f"pkg:deb/debian/{name}@{urllib.parse.quote(version_info, safe='')}"
                f"?arch={architecture}")
        package_id = spdx_id("Debian", f"{name}-{architecture}")
        packages.append({
            "SPDXID": package_id, "name": name, "versionInfo": version_info,
            "sourceInfo": f"built from the Debian source package {source} {source_version}",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseConcluded": "NOASSERTION", "licenseDeclared": "NOASSERTION",
            "copyrightText": "NOASSERTION",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": purl}]})
        for kind, elements in sorted(tools[tool].items()):
            for element_id in sorted(elements):
                if kind == "BUILD_TOOL_OF":
                    relationships.append({"spdxElementId": package_id,
                                          "relationshipType": kind,
                                          "relatedSpdxElement": element_id})
                else:
                    relationships.append({"spdxElementId": element_id,
                                          "relationshipType": kind,
                                          "relatedSpdxElement": package_id})

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
