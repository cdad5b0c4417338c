// Runs the real tessulor binary as a child process and collects its output and exit status.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace tessulor_test {

struct ChildRun {
  int exitStatus = -1;  // -1 unless the child exited normally
  std::string output;
};

// `input` is null for stdin from /dev/null, else the text a pipe delivers before it closes.
// `env` entries ("NAME=value") replace or extend the inherited environment.
inline ChildRun RunTessulor(const std::vector<std::string>& args, const char* input = nullptr,
                            const std::vector<std::string>& env = {}) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& add : env) replaced |= entry.substr(0, entry.find('=') + 1) == add.substr(0, add.find('=') + 1);
    if (!replaced) envStrings.push_back(entry);
  }
  envStrings.insert(envStrings.end(), env.begin(), env.end());

  std::vector<std::string> argStrings = {TESSULOR_BINARY};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (auto& a : argStrings) argv.push_back(&a[0]);
  for (auto& e : envStrings) envp.push_back(&e[0]);
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  int out[2], in[2] = {-1, -1};
  if (pipe(out) != 0 || (input && pipe(in) != 0)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (input) {
    close(in[0]);
    if (spawned == 0) {
      const std::string text = input;
      if (write(in[1], text.data(), text.size()) < 0) {}
    }
    close(in[1]);
  }
  ChildRun run;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof(buffer))) > 0;) run.output.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  return run;
}

}  // namespace tessulor_test
