#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class QJSEngine;

namespace tavimo::geo {

// Hosts one ECMAScript engine whose global scope persists between calls.
// Used on the thread that made it only. Copies share the same engine.
class ScriptHost {
 public:
  ScriptHost();
  ~ScriptHost();
  ScriptHost(const ScriptHost& other);
  ScriptHost& operator=(const ScriptHost& other);

  // True when the statement ran without error; false on any script error.
  bool ExecuteStatement(const std::string& statement);
  // The expression's value as text (an array as its comma-joined element
  // texts); empty for undefined and on any failure.
  std::string Eval(const std::string& expression);
  // Discards every definition (a fresh global scope); cannot fail.
  void Reset();
  // The calling thread's last failure text; empty after a success.
  static std::string ErrorText();
  // The engine, for members this class does not wrap; never null.
  QJSEngine* HostedObject() const;
  // The global function's value as text, called with the leading run of
  // supplied arguments (as strings); empty on failure.
  std::string Run(const std::string& procedure,
                  const std::array<std::optional<std::string>, 6>& arguments = {});
  // Mode 0 sets "JScript", 1 "vbs", others nothing; returns the setting. The
  // engine speaks ECMAScript whatever this says: the setting is only kept.
  std::string Language(int mode);
  // Writes the limit (-1, none, when absent) and returns it. Kept only: the
  // engine has no time limit of its own.
  int Timeout(std::optional<int> limit = std::nullopt);
  // Writes the value when given; returns the kept value (no engine equivalent).
  int State(std::optional<int> value = std::nullopt);
  // Writes the value when given; returns the kept value (the engine shows no UI).
  bool AllowUI(std::optional<bool> value = std::nullopt);
  // Writes the value when given; returns the kept value (the engine has no site window).
  std::int64_t SitehWnd(std::optional<std::int64_t> value = std::nullopt);
  // Runs the code in the global scope; failures show only in ErrorText.
  void AddCode(const std::string& code);

  // The text of the array that object.function returns for these numbers,
  // as evaluating that call with the numbers as literals would give it;
  // nullopt when there is no such function or it gives no array.
  std::optional<std::string> CallWithNumbers(std::string_view object, std::string_view function,
                                             std::span<const double> arguments);

 private:
  struct Instance;
  std::shared_ptr<Instance> instance_;
};

}  // namespace tavimo::geo
