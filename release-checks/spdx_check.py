# SPDX-FileCopyrightText: 2026 The gradebook authors
# SPDX-License-Identifier: MIT
"""Checks a release's SPDX document: complete against SHA256SUMS with the same
checksums, its source files those of the source package, and valid. It is read by
spdx-tools where that is installed; without it (Debian 12 has none) by the rules
of SPDX 2.3 that the document relies on, with the SPDX licence list of
license-expression, which reuse brings. Run by release-checks/verify-release.sh:
python3 release-checks/spdx_check.py DIST VERSION
"""
import hashlib
import json
import os
import re
import sys
import tarfile
from urllib.parse import urlsplit

from license_expression import get_spdx_licensing

ID = re.compile(r"SPDXRef-[A-Za-z0-9.-]+")
HEX = {"SHA1": 40, "SHA256": 64}
# The relationship types used here, and the others of SPDX 2.3 a reader may meet.
RELATIONSHIPS = {"DESCRIBES", "GENERATED_FROM", "BUILD_TOOL_OF", "CONTAINS", "DEPENDS_ON"}


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
            code = hashlib.sha1("".join(sorted(
                c["checksumValue"] for f in owned for c in f["checksums"]
                if c["algorithm"] == "SHA1")).encode()).hexdigest()
            if package["packageVerificationCode"]["packageVerificationCodeValue"] != code:
                fail(f"{where}: the verification code is not that of its files")
            found = {licence for f in owned for licence in f["licenseInfoInFiles"]}
            if set(package["licenseInfoFromFiles"]) != (found - {"NOASSERTION"} or
                                                        {"NOASSERTION"}):
                fail(f"{where}: its licences are not those found in its files")
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
    sbom = f"gradebook-{version}.spdx.json"
    with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as f:
        listed = {name: checksum for checksum, name in
                  (line.rstrip("\n").split("  ", 1) for line in f)}
    if sbom not in listed:
        fail("SHA256SUMS does not list the SBOM")
    del listed[sbom]
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

    files = {f["SPDXID"]: f for f in document["files"]}
    packed = {}
    with tarfile.open(os.path.join(dist, f"gradebook-{version}-source.tar.gz")) as tar:
        for member in tar.getmembers():
            if member.isfile():
                data = tar.extractfile(member).read()
                packed["./" + member.name.split("/", 1)[1]] = hashlib.sha1(data).hexdigest()
    owned = {files[i]["fileName"]: {c["algorithm"]: c["checksumValue"]
                                    for c in files[i]["checksums"]}["SHA1"]
             for i in source["hasFiles"]}
    if owned != packed:
        fail("the source package's files in the SBOM are not those it holds: " +
             ", ".join(sorted(set(owned.items()) ^ set(packed.items()))[0]))
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
    print(f"release {version}: the SBOM is valid ({reader}) and lists every file of "
          f"SHA256SUMS with its checksum, and the {len(document['files'])} files of the source")


if __name__ == "__main__":
    main()
