# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Checks a release's SPDX document: complete against SHA256SUMS with the same
checksums, its source files those of the source package, and valid. It is read by
spdx-tools where that is installed; without it (Debian 12 has none) by the rules
of SPDX 2.3 that the document relies on, with the SPDX licence list of
license-expression, which reuse brings. Run by release-checks/verify-release.sh:
python3 release-checks/spdx_check.py DIST VERSION
"""
import json
import os
import re
import subprocess
import sys
from urllib.parse import urlsplit

from license_expression import get_spdx_licensing

# The writer's own ways of reading an archive and summing a package's files.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "packaging"))
import sbom  # noqa: E402

ID = re.compile(r"SPDXRef-[A-Za-z0-9.-]+")
HEX = {"SHA1": 40, "SHA256": 64}
# The relationship types used here, and the others of SPDX 2.3 a reader may meet.
RELATIONSHIPS = {"DESCRIBES", "GENERATED_FROM", "BUILD_TOOL_OF", "CONTAINS", "STATIC_LINK",
                 "DYNAMIC_LINK", "DEPENDS_ON"}
# The runtime each program carries, by the Debian packages that ship it: glibc,
# libstdc++ and libgcc for Linux, mingw-w64's runtime, libstdc++ and libgcc for
# Windows, WASI's libc and libc++ for the page.
CROSS = r"(-[a-z0-9]+-cross)?"
RUNTIMES = {
    "Linux": [rf"libc6(-dev)?(-i386)?{CROSS}", rf"lib(32)?stdc\+\+(-\d+-dev|6){CROSS}",
              rf"lib(32)?gcc(-\d+-dev|-s1){CROSS}"],
    "Windows": [r"mingw-w64-[a-z0-9-]+-dev", r"g\+\+-mingw-w64-[a-z0-9-]+",
                r"gcc-mingw-w64-[a-z0-9-]+"],
    "Web": [r"wasi-libc", r"libc\+\+-\d+-dev-wasm32"],
}


def fail(message):
    sys.exit(f"spdx: {message}")


def check_with_spdx_tools(path):
    try:
        from spdx_tools.spdx.parser.parse_anything import parse_file
        from spdx_tools.spdx.validation.document_validator import validate_full_spdx_document
    except ImportError:
        return False
    messages = validate_full_spdx_document(parse_file(path))
    if messages:
        fail("spdx-tools finds the document invalid:\n" +
             "\n".join(message.validation_message for message in messages))
    return True


def check_rules(document):
    """What SPDX 2.3 asks of each element that the document has."""
    licensing = get_spdx_licensing()

    def licence(expression, where):
        if expression in ("NOASSERTION", "NONE"):
            return
        errors = licensing.validate(expression, strict=True).errors
        if errors:
            fail(f"{where}: {expression} is not an SPDX licence expression: {errors}")

    def checksums(element, where):
        for checksum in element.get("checksums", []):
            length = HEX.get(checksum["algorithm"])
            if not length or not re.fullmatch(f"[0-9a-f]{{{length}}}", checksum["checksumValue"]):
                fail(f"{where}: not a {checksum['algorithm']} checksum")

    for field, value in (("spdxVersion", "SPDX-2.3"), ("dataLicense", "CC0-1.0"),
                         ("SPDXID", "SPDXRef-DOCUMENT")):
        if document.get(field) != value:
            fail(f"the document's {field} is not {value}")
    namespace = urlsplit(document["documentNamespace"])
    if not namespace.scheme or not namespace.netloc or namespace.fragment:
        fail("the document's namespace is not an absolute URI without a fragment")
    if not re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", document["creationInfo"]["created"]):
        fail("the document's creation time is not in SPDX's form")
    for creator in document["creationInfo"]["creators"]:
        if not re.match(r"(Person|Organization|Tool): \S", creator):
            fail(f"not a creator: {creator}")
    if not document["name"]:
        fail("the document has no name")

    elements = [document] + document["packages"] + document["files"]
    ids = [element["SPDXID"] for element in elements]
    for spdx_id in ids:
        if not ID.fullmatch(spdx_id):
            fail(f"not an SPDX identifier: {spdx_id}")
    if len(set(ids)) != len(ids):
        fail("an SPDX identifier is used twice")
    files = {f["SPDXID"]: f for f in document["files"]}
    for package in document["packages"]:
        where = package["SPDXID"]
        for field in ("name", "downloadLocation"):
            if not package.get(field):
                fail(f"{where} has no {field}")
        checksums(package, where)
        for field in ("licenseConcluded", "licenseDeclared"):
            licence(package.get(field, "NOASSERTION"), where)
        analysed = package.get("filesAnalyzed", True)
        if analysed != ("packageVerificationCode" in package):
            fail(f"{where}: a verification code goes with analysed files, and only then")
        if analysed:
            owned = [files[spdx_id] for spdx_id in package["hasFiles"]]
            expected = {}
            sbom.analysed(expected, owned)
            for field in ("packageVerificationCode", "licenseInfoFromFiles"):
                if package[field] != expected[field]:
                    fail(f"{where}: its {field} is not that of its files")
        for reference in package.get("externalRefs", []):
            if reference["referenceType"] == "purl" and not re.fullmatch(
                    r"pkg:[a-z]+/[^@?#]+@[^@?#/]+(\?[^#]*)?", reference["referenceLocator"]):
                fail(f"{where}: not a package URL: {reference['referenceLocator']}")
    for f in document["files"]:
        if not f["fileName"].startswith("./"):
            fail(f"{f['SPDXID']}: a file's name starts with ./")
        if "SHA1" not in {c["algorithm"] for c in f["checksums"]}:
            fail(f"{f['SPDXID']} has no SHA1 checksum")
        checksums(f, f["SPDXID"])
        for expression in f["licenseInfoInFiles"]:
            licence(expression, f["fileName"])
    for relationship in document["relationships"]:
        if relationship["relationshipType"] not in RELATIONSHIPS:
            fail(f"not a relationship used here: {relationship['relationshipType']}")
        for end in ("spdxElementId", "relatedSpdxElement"):
            if relationship[end] not in ids:
                fail(f"a relationship names {relationship[end]}, which is not in the document")


def check_release(document, dist, version):
    """Every file of SHA256SUMS but the SBOM itself, with its checksum; the source
    package's files; and the tools that built each artifact."""
    own = f"gradebook-{version}.spdx.json"
    with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as f:
        listed = {name: checksum for checksum, name in
                  (line.rstrip("\n").split("  ", 1) for line in f)}
    if own not in listed:
        fail("SHA256SUMS does not list the SBOM")
    del listed[own]
    described = {}
    for package in document["packages"]:
        if "packageFileName" in package:
            described[package["packageFileName"]] = (
                package, {c["algorithm"]: c["checksumValue"] for c in package["checksums"]})
    for name in sorted(set(listed) | set(described)):
        if name not in described:
            fail(f"{name} is in SHA256SUMS, not in the SBOM")
        if name not in listed:
            fail(f"{name} is in the SBOM, not in SHA256SUMS")
        if described[name][1].get("SHA256") != listed[name]:
            fail(f"{name}: the SBOM's checksum is not that of SHA256SUMS")

    relations = {(r["spdxElementId"], r["relationshipType"], r["relatedSpdxElement"])
                 for r in document["relationships"]}
    source, _ = described[f"gradebook-{version}-source.tar.gz"]
    for name, (package, _) in described.items():
        if ("SPDXRef-DOCUMENT", "DESCRIBES", package["SPDXID"]) not in relations:
            fail(f"the document does not describe {name}")
        tools = {tool for tool, kind, made in relations
                 if kind == "BUILD_TOOL_OF" and made == package["SPDXID"]}
        if not tools:
            fail(f"{name}: no tool built it")
        if package is not source and (package["SPDXID"], "GENERATED_FROM",
                                      source["SPDXID"]) not in relations:
            fail(f"{name} is not made from the source package")
    tools = {p["SPDXID"]: p for p in document["packages"] if "packageFileName" not in p}
    for tool in tools.values():
        purl = tool["externalRefs"][0]["referenceLocator"]
        if not purl.startswith(f"pkg:deb/debian/{tool['name']}@") or not tool["versionInfo"]:
            fail(f"{tool['SPDXID']}: a Debian package with its name and version")

    # Each archive's files, as it holds them, with their checksums (the source
    # package's named from inside its one folder); and each program in them, the
    # .exe in its zip and MSI alike, linked to its runtime's Debian packages.
    files = {f["SPDXID"]: f for f in document["files"]}
    artifacts = {}  # an element's artifact, by name
    for name, (package, _) in sorted(described.items()):
        held = {("./" + (member.split("/", 1)[1] if package is source else member),
                 sbom.checksums(data)[1]["checksumValue"])
                for member, data in sbom.members(os.path.join(dist, name)).items()}
        listed = {(files[i]["fileName"], files[i]["checksums"][1]["checksumValue"])
                  for i in package.get("hasFiles", [])}
        if held != listed:
            fail(f"{name}: the files in the SBOM are not those it holds: " +
                 ", ".join(sorted(held ^ listed)[:3]))
        if any((package["SPDXID"], "CONTAINS", i) not in relations
               for i in package.get("hasFiles", [])):
            fail(f"{name}: a file it holds is not related to it by CONTAINS")
        if package is source:
            continue
        kinds = (("windows", "Windows"), ("web", "Web"), ("site", "Web"))
        system = next((system for word, system in kinds if word in name), "Linux")
        programs = [i for i in package.get("hasFiles", [])
                    if os.path.basename(files[i]["fileName"]) in sbom.PROGRAMS]
        if "hasFiles" not in package:  # a page is its program
            programs = [package["SPDXID"]]
        if not programs:
            fail(f"{name}: it holds no program")
        # Only a .deb's program loads libraries; the others carry their runtime.
        links = {"STATIC_LINK", "DYNAMIC_LINK"} if name.endswith(".deb") else {"STATIC_LINK"}
        for i in programs:
            linked = {tools[tool]["name"] for program, kind, tool in relations
                      if program == i and kind in links}
            for runtime in RUNTIMES[system]:
                if not any(re.fullmatch(runtime, library) for library in linked):
                    fail(f"{name}: {i} is linked to no package of {runtime}, only to "
                         f"{sorted(linked)}")
            for element in [i, package["SPDXID"]]:
                artifacts[element] = name
    # Every Debian package made or went into an artifact; one of another
    # architecture than the build machine's, into that architecture's alone.
    native = subprocess.run(["dpkg", "--print-architecture"], check=True,
                            capture_output=True, text=True).stdout.strip()
    for tool_id, tool in tools.items():
        related = {artifacts.get(a, a) if b == tool_id else artifacts.get(b, b)
                   for a, _, b in relations if tool_id in (a, b)}
        if not related:
            fail(f"{tool['name']} is listed, and related to nothing")
        arch = tool["externalRefs"][0]["referenceLocator"].rpartition("?arch=")[2]
        cpus = {"i386": "i386|i686"}.get(arch, arch)
        if arch not in ("all", native) and any(not re.search(rf"[-_]({cpus})[._]", r)
                                               for r in related):
            fail(f"{tool['name']}:{arch} is listed for {sorted(related)}")
    licences = {files[i]["fileName"]: files[i]["licenseInfoInFiles"] for i in source["hasFiles"]}
    if licences.get("./src/gradebook.cpp") != ["MIT"]:
        fail("the program's source is not under its REUSE licence")


def main():
    dist, version = sys.argv[1:]
    path = os.path.join(dist, f"gradebook-{version}.spdx.json")
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    reader = "spdx-tools" if check_with_spdx_tools(path) else "the rules of SPDX 2.3"
    check_rules(document)
    check_release(document, dist, version)
    source = next(p for p in document["packages"] if p.get("primaryPackagePurpose") == "SOURCE")
    print(f"release {version}: the SBOM is valid ({reader}) and lists every file of "
          f"SHA256SUMS with its checksum, the {len(source['hasFiles'])} files of the source, "
          f"what each archive holds and each program's runtime")


if __name__ == "__main__":
    main()
