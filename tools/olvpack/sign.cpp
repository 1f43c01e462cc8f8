#include "tools/olvpack/sign.h"

#include <stdio.h>

#include <filesystem>
#include <vector>

#include "package/package_format.h"
#include "tools/olvpack/carrier.h"
#include "tools/toolport/run_program.h"
#include "tools/toolport/tool_io.h"

namespace fs = std::filesystem;

namespace {

SignResult Fail(int code, const std::string& message) {
  SignResult r;
  r.exitCode = code;
  r.message = message;
  return r;
}

}  // namespace

SignResult SignCarrier(const SignRequest& req) {
  if (req.carrier.empty() || req.name.empty()) return Fail(2, "sign needs CARRIER and --name");
  bool p12 = !req.pkcs12.empty();
  if (p12 == (!req.cert.empty() || !req.key.empty()) ||
      (!p12 && (req.cert.empty() || req.key.empty())))
    return Fail(2, "sign needs either --pkcs12 FILE or both --cert FILE and --key FILE");
  for (const std::string* f : {&req.pkcs12, &req.cert, &req.key, &req.passFile, &req.caFile}) {
    std::error_code ec;
    if (!f->empty() && !fs::is_regular_file(PathOf(*f), ec)) return Fail(3, "cannot read " + *f);
  }

  ReadResult before = ReadCarrier(req.carrier, kExeCarrierOffset, "");
  if (!before.ok) return Fail(before.error == 0 ? 3 : 1, req.carrier + ": " + before.message);
  if (!before.sawEnd)
    return Fail(1, req.carrier + ": the package has no end entry; rebuild it with olvpack build");
  if (before.signatureBytes != 0)
    return Fail(1, req.carrier + ": already signed (signature: " +
                       std::to_string(before.signatureBytes) + " bytes)");

  // A signed program that holds no digest unpacks any package put behind it, one padded into
  // its own certificate table included, while its signature still shows.
  if (!before.slot.bound && !req.unbound)
    return Fail(1, req.carrier +
                       ": the program is not bound to its package (no digest in its slot): "
                       "signed, it would vouch for any package; build it with olvpack build "
                       "from a Setup.exe stub, or give --unbound");

  std::string output = req.output.empty() ? req.carrier : req.output;
  std::string tmp = output + ".signing";
  std::error_code ec;
  fs::remove(PathOf(tmp), ec);
  std::string tool = ResolveProgram(req.tool);
  if (tool.empty())
    return Fail(3, req.tool + ".exe is not on the PATH: sign " + req.carrier +
                       " with signtool instead (signtool sign /fd SHA256 /f release.p12 /tr "
                       "TIMESTAMP-URL /td SHA256 " +
                       req.carrier + "), then run olvpack verify " + req.carrier +
                       " to check that its package still walks");
  std::vector<std::string> sign = {tool, "sign"};
  if (p12) {
    sign.insert(sign.end(), {"-pkcs12", req.pkcs12});
  } else {
    sign.insert(sign.end(), {"-certs", req.cert, "-key", req.key});
  }
  if (!req.passFile.empty()) sign.insert(sign.end(), {"-readpass", req.passFile});
  sign.insert(sign.end(), {"-h", "sha256", "-n", req.name});
  if (!req.url.empty()) sign.insert(sign.end(), {"-i", req.url});
  if (!req.timestamp.empty()) sign.insert(sign.end(), {"-ts", req.timestamp});
  sign.insert(sign.end(), {"-in", req.carrier, "-out", tmp});
  std::string out;
  int rc = RunProgram(sign, &out);
  if (rc != 0) {
    fs::remove(PathOf(tmp), ec);
    if (rc == -1)
      return Fail(3, "cannot run " + req.tool + " (scripts/setup-machine.sh installs it)");
    if (!req.timestamp.empty()) {
      // Whether the time-stamp server is what failed: the same signing without it.
      std::vector<std::string> plain;
      for (size_t i = 0; i < sign.size(); ++i) {
        if (sign[i] == "-ts") ++i;
        else plain.push_back(sign[i]);
      }
      std::string ignored;
      int plainRc = RunProgram(plain, &ignored);
      fs::remove(PathOf(tmp), ec);
      if (plainRc == 0)
        return Fail(1, "the time-stamp server " + req.timestamp +
                           " failed (signing without it works): check the URL, the one your "
                           "certificate authority gives, and that this machine reaches it\n" +
                           req.tool + " sign failed:\n" + out);
    }
    return Fail(1, req.tool + " sign failed:\n" + out);
  }

  ChainCheck check = CheckChain(tmp, req.caFile, req.tool);
  if (check.status != 0) {
    fs::remove(PathOf(tmp), ec);
    // Without --ca-file only the tool's default CA file was asked: a private or test root
    // is never in it.
    std::string hint =
        req.caFile.empty()
            ? "the signed carrier does not verify against " + req.tool +
                  "'s default CA file: for a private or test root, pass --ca-file ROOT.pem\n"
            : "";
    return Fail(1, hint + "the signed carrier does not verify:\n" + check.output);
  }
  ReadResult after = ReadCarrier(tmp, kExeCarrierOffset, "");
  if (!after.ok || after.signatureBytes == 0 || after.entries.size() != before.entries.size()) {
    fs::remove(PathOf(tmp), ec);
    return Fail(1, "the signed carrier's package does not walk as before: " + after.message);
  }
  fs::rename(PathOf(tmp), PathOf(output), ec);
  if (ec) {
    fs::remove(PathOf(tmp), ec);
    return Fail(3, "cannot create " + output);
  }
  SignResult r;
  r.ok = true;
  r.message = "signed " + output + ": " + std::to_string(after.entries.size()) +
              " entries, signature: " + std::to_string(after.signatureBytes) +
              " bytes, verified by " + req.tool;
  return r;
}

std::string OfflineRevocationOption(const std::string& versionOutput) {
  const std::string name = "osslsigncode ";
  size_t at = versionOutput.find(name);
  if (at == std::string::npos) return "";
  unsigned major = 0, minor = 0;
  if (sscanf(versionOutput.c_str() + at + name.size(), "%u.%u", &major, &minor) != 2) return "";
  if (major > 2 || (major == 2 && minor >= 9)) return "-ignore-crl";
  if (major == 2 && minor == 8) return "-ignore-cdp";
  return "";
}

ChainCheck CheckChain(const std::string& carrier, const std::string& caFile,
                      const std::string& tool) {
  ChainCheck c;
  std::string path = ResolveProgram(tool);
  if (path.empty()) return c;
  std::string version;
  if (RunProgram({path, "--version"}, &version) == -1) return c;
  std::vector<std::string> verify = {path, "verify"};
  std::string offline = OfflineRevocationOption(version);
  if (!offline.empty()) verify.push_back(offline);
  if (!caFile.empty()) verify.insert(verify.end(), {"-CAfile", caFile});
  verify.insert(verify.end(), {"-in", carrier});
  int rc = RunProgram(verify, &c.output);
  c.status = rc == -1 ? -1 : rc == 0 ? 0 : 1;
  return c;
}
