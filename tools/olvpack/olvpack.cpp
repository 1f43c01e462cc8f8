// olvpack: builds Setup.exe carriers from a payload folder and lists, verifies and
// extracts built ones with the walk that Setup.exe itself runs.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "tools/olvpack/carrier.h"
#include "tools/olvpack/carrier_digest.h"
#include "tools/olvpack/sign.h"
#include "tools/olvpack/signature.h"
#include "tools/toolport/tool_io.h"

namespace {

// Exit codes.
const int kExitOk = 0;
const int kExitBadPackage = 1;  // the carrier's package is broken, or the build input is
const int kExitUsage = 2;
const int kExitIo = 3;  // a file could not be read or written

const char kUsage[] =
    "usage: olvpack <command> [options]\n"
    "\n"
    "Builds the setup program that carries the client's payload, and checks built ones.\n"
    "\n"
    "commands:\n"
    "  build   --stub FILE --payload DIR --output FILE [--msi | --offset N]\n"
    "          [--version A.B.C.D] [--allow-incomplete]\n"
    "          Appends every file of DIR (files only, sorted by name) to the stub: the stub\n"
    "          is padded with zeros to the package offset, then the package follows. The\n"
    "          stub must end before the offset. When the stub has a digest slot (Setup.exe\n"
    "          has), the package's SHA-256 is written into it, binding the program to this\n"
    "          package, and the PE checksum is set again. The result is verified before it\n"
    "          appears.\n"
    "          The payload must hold wexApxSvr.exe (the agent) and OlvanSetup.exe (the\n"
    "          installer), and 7za.exe (the 32-bit 7-Zip console) when it holds Qt.7z,\n"
    "          tool.7z or UrlCmdCustomCfg.7z, the archives Setup.exe extracts (other .7z\n"
    "          files get a warning: they stay packed). At offset 530000 the stub must be a\n"
    "          PE image (Setup.exe), with --msi an MSI package. --allow-incomplete builds\n"
    "          such a payload or stub anyway, with warnings (for tests and stand-ins).\n"
    "          --version A.B.C.D (each part 0-65535) stamps Setup.exe's file and product\n"
    "          versions, fixed and as text, in place before the program is bound.\n"
    "  list    CARRIER [--msi | --offset N] [--log]\n"
    "          Prints the program's version (from its version record) and each entry's\n"
    "          size in bytes and name.\n"
    "  verify  CARRIER [--msi | --offset N] [--program FILE] [--ca-file FILE]\n"
    "          [--require-signature | --no-signature-check] [--log]\n"
    "          Walks the package as Setup.exe does, writing nothing, and checks it against\n"
    "          the digest bound into the program (FILE, for an MSI carrier: whether that\n"
    "          Setup.exe will unpack this package). A package that starts inside, or\n"
    "          runs into, the certificate table of the carrier's signature is error 168.\n"
    "          Then the signature: the digest it signed must be the carrier's (exit 1:\n"
    "          changed after signing), and osslsigncode checks its certificate chain\n"
    "          against --ca-file, else osslsigncode's default CA file, which is not the\n"
    "          Windows certificate store (exit 1: not trusted). Revocation lists are\n"
    "          neither fetched nor required. Prints the signer's subject and whether a\n"
    "          time stamp is present.\n"
    "          Without osslsigncode on the PATH: exit 3 (signature present, chain not\n"
    "          checked; on Windows signtool verify /pa checks it), or with\n"
    "          --no-signature-check the digest alone and \"signature: not checked\".\n"
    "          Unsigned: \"signature: none\", exit 1 with --require-signature. The\n"
    "          signature of an MSI carrier is not checked.\n"
    "  extract CARRIER DIR [--msi | --offset N] [--log]\n"
    "          Writes every entry into the existing folder DIR.\n"
    "  sign    CARRIER (--pkcs12 FILE | --cert FILE --key FILE) [--pass-file FILE]\n"
    "          --name NAME [--url URL] [--timestamp URL] [--ca-file FILE] [--output FILE]\n"
    "          Signs a built Setup.exe (Authenticode, with osslsigncode) so that the\n"
    "          signature covers the payload, then verifies it (against --ca-file when\n"
    "          given) and walks the package again. Replaces CARRIER unless --output is\n"
    "          given; a private or test root needs --ca-file. MSI carriers cannot be\n"
    "          signed this way. A program not bound to its\n"
    "          package is refused unless --unbound is given.\n"
    "\n"
    "options:\n"
    "  --msi       the carrier is an MSI package: offset 3300000\n"
    "  --offset N  package offset in bytes (default 530000, the one Setup.exe reads)\n"
    "  --log       print the unpacker's log lines (as Setup.exe writes them) to stderr\n"
    "  --unbound   sign a program that holds no digest of its package (it would then\n"
    "              unpack any package, one inside its signature's padding included)\n"
    "  -h, --help  this text\n"
    "\n"
    "list and verify report a signature after the package as \"signature: N bytes\".\n"
    "build, list and verify print the package's SHA-256 as \"package sha256: HEX\" followed\n"
    "by \"(bound)\" when the program holds that digest, or \"(not bound)\" when it holds none.\n"
    "build and verify print the carrier's SHA-256 (\"sha256: ...\") and, for a PE image, its\n"
    "Authenticode digest (\"authenticode sha256: ...\"), which signing does not change.\n"
    "\n"
    "Each command refuses an option it does not take.\n"
    "\n"
    "exit codes: 0 success, 1 broken package, unusable build input or a signature that\n"
    "fails, 2 usage error, 3 a file could not be read or written (or osslsigncode, needed\n"
    "to check a signature's chain, is missing).\n";

int Usage(const char* problem) {
  fprintf(stderr, "olvpack: %s\n(olvpack --help for usage)\n", problem);
  return kExitUsage;
}

struct Args {
  std::string command;
  std::vector<std::string> positional;
  std::string stub, payload, output, program;
  SignRequest sign;
  uint32_t offset = kExeCarrierOffset;
  bool offsetSet = false;
  bool log = false;
  bool requireSignature = false;
  bool noSignatureCheck = false;
  bool allowIncomplete = false;
  std::string version;
  std::vector<std::string> options;  // every option given, for the command's own check
};

// The options each command takes.
const struct {
  const char* command;
  std::vector<std::string> options;
} kCommandOptions[] = {
    {"build", {"--stub", "--payload", "--output", "--msi", "--offset", "--allow-incomplete",
               "--version"}},
    {"list", {"--msi", "--offset", "--log"}},
    {"verify", {"--msi", "--offset", "--program", "--log", "--ca-file", "--require-signature",
                "--no-signature-check"}},
    {"extract", {"--msi", "--offset", "--log"}},
    {"sign", {"--pkcs12", "--cert", "--key", "--pass-file", "--name", "--url", "--timestamp",
              "--ca-file", "--output", "--unbound", "--msi", "--offset"}},
};

// 0 when every option given belongs to the command; otherwise the usage exit code.
int CheckOptions(const Args& a) {
  for (const auto& c : kCommandOptions) {
    if (a.command != c.command) continue;
    for (const std::string& o : a.options) {
      bool known = false;
      for (const std::string& k : c.options) known = known || k == o;
      if (!known) return Usage((a.command + " does not take " + o).c_str());
    }
  }
  return 0;
}

bool ParseOffset(const char* s, uint32_t* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(s, &end, 10);
  if (errno != 0 || end == s || *end != '\0' || v > 0xffffffffull || s[0] == '-') return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// 0 when parsed; otherwise the exit code to return.
int Parse(int argc, char** argv, Args* a, bool* help) {
  for (int i = 1; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "-o") s = "--output";
    if (s.size() > 1 && s[0] == '-' && s != "-h" && s != "--help") a->options.push_back(s);
    auto value = [&](std::string* dst) {
      if (i + 1 >= argc) return false;
      *dst = argv[++i];
      return true;
    };
    if (s == "-h" || s == "--help") {
      *help = true;
      return 0;
    } else if (s == "--stub") {
      if (!value(&a->stub)) return Usage("--stub needs a file");
    } else if (s == "--payload") {
      if (!value(&a->payload)) return Usage("--payload needs a folder");
    } else if (s == "--output") {
      if (!value(&a->output)) return Usage("--output needs a file");
    } else if (s == "--msi") {
      if (a->offsetSet && a->offset != kMsiCarrierOffset)
        return Usage("--msi and --offset disagree");
      a->offset = kMsiCarrierOffset;
      a->offsetSet = true;
    } else if (s == "--offset") {
      std::string v;
      uint32_t off = 0;
      if (!value(&v) || !ParseOffset(v.c_str(), &off))
        return Usage("--offset needs a number of bytes");
      if (a->offsetSet && a->offset != off) return Usage("--msi and --offset disagree");
      a->offset = off;
      a->offsetSet = true;
    } else if (s == "--pkcs12" || s == "--cert" || s == "--key" || s == "--pass-file" ||
               s == "--name" || s == "--url" || s == "--timestamp" || s == "--ca-file") {
      std::string* dst = s == "--pkcs12"      ? &a->sign.pkcs12
                         : s == "--cert"      ? &a->sign.cert
                         : s == "--key"       ? &a->sign.key
                         : s == "--pass-file" ? &a->sign.passFile
                         : s == "--name"      ? &a->sign.name
                         : s == "--url"       ? &a->sign.url
                         : s == "--timestamp" ? &a->sign.timestamp
                                              : &a->sign.caFile;
      if (!value(dst)) return Usage((s + " needs a value").c_str());
    } else if (s == "--program") {
      if (!value(&a->program)) return Usage("--program needs a file");
    } else if (s == "--unbound") {
      a->sign.unbound = true;
    } else if (s == "--log") {
      a->log = true;
    } else if (s == "--require-signature") {
      a->requireSignature = true;
    } else if (s == "--no-signature-check") {
      a->noSignatureCheck = true;
    } else if (s == "--allow-incomplete") {
      a->allowIncomplete = true;
    } else if (s == "--version") {
      if (!value(&a->version)) return Usage("--version needs A.B.C.D");
    } else if (s.size() > 1 && s[0] == '-') {
      return Usage(("unknown option " + s).c_str());
    } else if (a->command.empty()) {
      a->command = s;
    } else {
      a->positional.push_back(s);
    }
  }
  return 0;
}

// The digests that match a carrier with one rebuilt from the source; false (message written)
// when the file cannot be read.
bool PrintDigests(const std::string& path) {
  CarrierDigests d = DigestCarrier(path);
  if (!d.ok) {
    fprintf(stderr, "olvpack: cannot read %s\n", path.c_str());
    return false;
  }
  printf("sha256: %s\n", DigestHex(d.file).c_str());
  if (d.isPe) printf("authenticode sha256: %s\n", DigestHex(d.authenticode).c_str());
  return true;
}

int Build(const Args& a) {
  if (a.stub.empty() || a.payload.empty() || a.output.empty())
    return Usage("build needs --stub, --payload and --output");
  if (!a.positional.empty()) return Usage("build takes no positional arguments");
  // What would build fine and fail only on the target machine.
  std::vector<std::string> refusals;
  std::string stubProblem = StubKindProblem(a.stub, a.offset);
  if (!stubProblem.empty()) refusals.push_back(stubProblem);
  BuildResult scan = ScanPayload(a.payload);
  if (scan.ok) {
    PayloadCheck check = CheckPayloadContents(scan.entries);
    for (const std::string& w : check.warnings)
      fprintf(stderr, "olvpack: warning: %s\n", w.c_str());
    for (const std::string& m : check.missing) refusals.push_back("the payload lacks " + m);
  }
  for (const std::string& why : refusals)
    fprintf(stderr, "olvpack: %s%s\n", a.allowIncomplete ? "warning: " : "", why.c_str());
  if (!refusals.empty() && !a.allowIncomplete) {
    fprintf(stderr, "olvpack: nothing built (--allow-incomplete builds it anyway)\n");
    return kExitBadPackage;
  }
  Version version;
  if (!a.version.empty() && !ParseVersion(a.version, &version))
    return Usage("--version needs A.B.C.D, each part 0-65535");
  BuildResult r = BuildCarrier(a.stub, a.payload, a.offset, a.output,
                               a.version.empty() ? nullptr : &version);
  if (!r.ok) {
    fprintf(stderr, "olvpack: %s\n", r.message.c_str());
    return r.failure == BuildFailure::kFile ? kExitIo : kExitBadPackage;
  }
  ReadResult check = ReadCarrier(a.output, a.offset, "");
  if (!check.ok || !check.sawEnd || check.entries.size() != r.entries.size()) {
    fprintf(stderr, "olvpack: the built carrier does not verify: %s\n", check.message.c_str());
    std::error_code ec;
    std::filesystem::remove(PathOf(a.output), ec);
    return kExitBadPackage;
  }
  uint64_t bytes = 0;
  for (const PackEntry& e : r.entries) bytes += e.size;
  printf("built %s: %llu entries, %llu payload bytes, package at offset %u, %llu bytes in all\n",
         a.output.c_str(), static_cast<unsigned long long>(r.entries.size()),
         static_cast<unsigned long long>(bytes), a.offset,
         static_cast<unsigned long long>(r.carrierSize));
  printf("package sha256: %s %s\n", DigestHex(r.digest).c_str(),
         r.bound ? "(bound)" : "(not bound)");
  if (!r.bound && a.offset == kExeCarrierOffset)
    fprintf(stderr,
            "olvpack: warning: the stub has no digest slot; the program is not bound to its "
            "package\n");
  return PrintDigests(a.output) ? kExitOk : kExitIo;
}

// The signature of a carrier whose package walked: none, not checked (an MSI package), or
// its signed digest compared with the carrier's and its chain checked by osslsigncode.
// Prints what it found; returns the exit code (kExitOk: the "ok" line may follow).
int CheckSignature(const Args& a, const std::string& carrier) {
  if (a.offset == kMsiCarrierOffset) {
    printf("signature: not checked (olvpack does not check an MSI package's signature; "
           "on Windows: signtool verify /pa)\n");
    return kExitOk;
  }
  SignatureInfo sig = ReadSignature(carrier);
  if (!sig.present) {
    printf("signature: none\n");
    if (!a.requireSignature) return kExitOk;
    fprintf(stderr, "olvpack: %s: not signed (--require-signature)\n", carrier.c_str());
    return kExitBadPackage;
  }
  if (!sig.readable) {
    fprintf(stderr, "olvpack: %s: signature unreadable: %s\n", carrier.c_str(),
            sig.problem.c_str());
    return kExitBadPackage;
  }
  CarrierDigests d = DigestCarrier(carrier);
  if (!d.ok) {
    fprintf(stderr, "olvpack: cannot read %s\n", carrier.c_str());
    return kExitIo;
  }
  if (!sig.sha256) {
    fprintf(stderr,
            "olvpack: %s: the signature's digest is not SHA-256, which olvpack cannot compare "
            "(sign with SHA-256)\n",
            carrier.c_str());
    return kExitBadPackage;
  }
  if (memcmp(sig.digest, d.authenticode, kSha256Len) != 0) {
    fprintf(stderr,
            "olvpack: %s: changed after signing: the signature holds the digest %s, the carrier "
            "has %s\n",
            carrier.c_str(), DigestHex(sig.digest).c_str(), DigestHex(d.authenticode).c_str());
    return kExitBadPackage;
  }
  printf("signer: %s\n", sig.subject.empty() ? "(not found)" : sig.subject.c_str());
  printf("time stamp: %s\n", sig.timeStamped ? "present" : "none");
  if (a.noSignatureCheck) {
    printf("signature: not checked: its certificate chain (--no-signature-check); its digest "
           "matches the carrier\n");
    return kExitOk;
  }
  const std::string against =
      a.sign.caFile.empty() ? "osslsigncode's default CA file" : a.sign.caFile;
  ChainCheck chain = CheckChain(carrier, a.sign.caFile);
  if (chain.status == -1) {
    fprintf(stderr,
            "olvpack: %s: signature present, chain not checked: osslsigncode is not on the "
            "PATH (on Windows, signtool verify /pa %s checks it; --no-signature-check skips "
            "it)\n",
            carrier.c_str(), carrier.c_str());
    return kExitIo;
  }
  if (a.log) fputs(chain.output.c_str(), stderr);
  if (chain.status != 0) {
    fprintf(stderr,
            "olvpack: %s: signature not trusted: its certificate chain does not verify "
            "against %s%s (--log shows osslsigncode's output)\n",
            carrier.c_str(), against.c_str(),
            a.sign.caFile.empty() ? "; pass --ca-file for a private or test root" : "");
    return kExitBadPackage;
  }
  printf("signature: digest matches, chain verified against %s\n", against.c_str());
  return kExitOk;
}

int Read(const Args& a) {
  bool extract = a.command == "extract";
  size_t want = extract ? 2 : 1;
  if (a.positional.size() != want)
    return Usage(extract ? "extract needs CARRIER and DIR" : "needs one CARRIER");
  if (!a.stub.empty() || !a.payload.empty() || !a.output.empty())
    return Usage("--stub, --payload and --output belong to build");
  if (!a.program.empty() && a.command != "verify") return Usage("--program belongs to verify");
  ReadResult r = ReadCarrier(a.positional[0], a.offset, extract ? a.positional[1] : "");
  if (!a.program.empty() && !CheckAgainstProgram(&r, a.program)) {
    fprintf(stderr, "olvpack: %s: no digest slot: not a Setup.exe built by olvpack\n",
            a.program.c_str());
    return kExitBadPackage;
  }
  if (a.log) {
    for (const std::string& line : r.log) fprintf(stderr, "%s\n", line.c_str());
  }
  if (a.command == "list") {
    VersionRecord v = ReadVersionRecord(a.positional[0], a.offset);
    if (v.found) {
      printf("version: %s", VersionText(v.fileVersion).c_str());
      if (memcmp(&v.fileVersion, &v.productVersion, sizeof v.fileVersion) != 0)
        printf(" (product %s)", VersionText(v.productVersion).c_str());
      printf("\n");
    }
    for (const PackEntry& e : r.entries)
      printf("%12llu  %s\n", static_cast<unsigned long long>(e.size), e.name.c_str());
  }
  if (!r.ok) {
    fprintf(stderr, "olvpack: %s: %s\n", a.positional[0].c_str(), r.message.c_str());
    return r.error == 0 || r.error == kUnpackErrOpenCarrier ? kExitIo : kExitBadPackage;
  }
  uint64_t bytes = 0;
  for (const PackEntry& e : r.entries) bytes += e.size;
  const char* ending =
      r.sawEnd ? "end entry reached" : "no end entry, the last entry ends the carrier";
  if (r.signatureBytes != 0 && a.command != "extract")
    printf("signature: %u bytes\n", static_cast<unsigned>(r.signatureBytes));
  if (a.command != "extract")
    printf("package sha256: %s %s\n", DigestHex(r.digest).c_str(),
           r.slot.bound ? "(bound)" : "(not bound)");
  if (a.command == "verify") {
    if (int rc = CheckSignature(a, a.positional[0])) return rc;
    printf("%s: ok, %llu entries, %llu bytes, %s\n", a.positional[0].c_str(),
           static_cast<unsigned long long>(r.entries.size()),
           static_cast<unsigned long long>(bytes), ending);
    if (!PrintDigests(a.positional[0])) return kExitIo;
  } else if (extract)
    printf("extracted %llu entries (%llu bytes) into %s\n",
           static_cast<unsigned long long>(r.entries.size()),
           static_cast<unsigned long long>(bytes), a.positional[1].c_str());
  return kExitOk;
}

int Sign(Args& a) {
  if (a.positional.size() != 1) return Usage("sign needs one CARRIER");
  if (!a.stub.empty() || !a.payload.empty()) return Usage("--stub and --payload belong to build");
  if (a.offsetSet && a.offset != kExeCarrierOffset)
    return Usage(
        "only Setup.exe carriers (offset 530000) can be signed: the cached MSI copy "
        "carries its package inside the MSI format, which its own signature would change");
  a.sign.carrier = a.positional[0];
  a.sign.output = a.output;
  SignResult r = SignCarrier(a.sign);
  if (!r.ok) {
    if (r.exitCode == kExitUsage) return Usage(r.message.c_str());
    fprintf(stderr, "olvpack: %s\n", r.message.c_str());
    return r.exitCode;
  }
  printf("%s\n", r.message.c_str());
  return kExitOk;
}

int Main(int argc, char** argv) {
  Args a;
  bool help = false;
  if (int rc = Parse(argc, argv, &a, &help)) return rc;
  if (help) {
    fputs(kUsage, stdout);
    return kExitOk;
  }
  if (a.command.empty()) return Usage("no command given");
  if (int rc = CheckOptions(a)) return rc;
  if (a.command == "build") return Build(a);
  if (a.command == "list" || a.command == "verify" || a.command == "extract") return Read(a);
  if (a.command == "sign") return Sign(a);
  return Usage(("unknown command " + a.command).c_str());
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return RunMainWithUtf8Args(argc, argv, Main); }
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
