#include "tools/olvpack/sign.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "package/package_format.h"
#include "tools/olvpack/carrier.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

SignResult Fail(int code, const std::string& message) {
  SignResult r;
  r.exitCode = code;
  r.message = message;
  return r;
}

// Runs the program with args, its output gathered in *output. Returns its exit status, or
// -1 when it could not be started.
int Run(const std::vector<std::string>& args, std::string* output) {
  char tmpl[] = "/tmp/olvpack-sign-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fd, 1);
  posix_spawn_file_actions_adddup2(&actions, fd, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  if (rc == 0 && waitpid(pid, &status, 0) == pid)
    status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  else
    status = -1;
  close(fd);
  std::ifstream f(tmpl, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  *output = ss.str();
  unlink(tmpl);
  return status;
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
    if (!f->empty() && !fs::is_regular_file(*f, ec)) return Fail(3, "cannot read " + *f);
  }

  ReadResult before = ReadCarrier(req.carrier, kExeCarrierOffset, "");
  if (!before.ok) return Fail(before.error == 0 ? 3 : 1, req.carrier + ": " + before.message);
  if (!before.sawEnd)
    return Fail(1, req.carrier + ": the package has no end entry; rebuild it with olvpack build");
  if (before.signatureBytes != 0)
    return Fail(1, req.carrier + ": already signed (signature: " +
                       std::to_string(before.signatureBytes) + " bytes)");

  std::string output = req.output.empty() ? req.carrier : req.output;
  std::string tmp = output + ".signing";
  std::error_code ec;
  fs::remove(tmp, ec);
  std::vector<std::string> sign = {req.tool, "sign"};
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
  int rc = Run(sign, &out);
  if (rc != 0) {
    fs::remove(tmp, ec);
    if (rc == -1)
      return Fail(3, "cannot run " + req.tool + " (scripts/setup-machine.sh installs it)");
    return Fail(1, req.tool + " sign failed:\n" + out);
  }

  std::vector<std::string> verify = {req.tool, "verify"};
  if (!req.caFile.empty()) verify.insert(verify.end(), {"-CAfile", req.caFile});
  verify.insert(verify.end(), {"-in", tmp});
  rc = Run(verify, &out);
  if (rc != 0) {
    fs::remove(tmp, ec);
    return Fail(1, "the signed carrier does not verify:\n" + out);
  }
  ReadResult after = ReadCarrier(tmp, kExeCarrierOffset, "");
  if (!after.ok || after.signatureBytes == 0 || after.entries.size() != before.entries.size()) {
    fs::remove(tmp, ec);
    return Fail(1, "the signed carrier's package does not walk as before: " + after.message);
  }
  fs::rename(tmp, output, ec);
  if (ec) {
    fs::remove(tmp, ec);
    return Fail(3, "cannot create " + output);
  }
  SignResult r;
  r.ok = true;
  r.message = "signed " + output + ": " + std::to_string(after.entries.size()) +
              " entries, signature: " + std::to_string(after.signatureBytes) +
              " bytes, verified by " + req.tool;
  return r;
}
