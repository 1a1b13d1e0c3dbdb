#include "geo/script_host.h"

#include <QJSEngine>
#include <QJSValue>
#include <QString>
#include <QStringList>

namespace tavimo::geo {

struct ScriptHost::Instance {
  std::unique_ptr<QJSEngine> engine = std::make_unique<QJSEngine>();
  // Held for the engine's life: while one handle lives, the short-lived
  // handles of each call reuse its storage page instead of mapping a new page
  // and unmapping it again, which costs twenty times the call itself.
  QJSValue global = engine->globalObject();
  std::string language = "JScript";
  int timeout = -1;
  int state = 0;
  bool allow_ui = true;
  std::int64_t site_window = 0;
};

namespace {

thread_local std::string last_error;

QString ToQString(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

struct Outcome {
  QJSValue value;
  bool ok = false;
};

// Evaluates in the global scope and records the outcome for ErrorText. A
// thrown value of any kind leaves a stack trace behind; a plain value none.
Outcome Evaluate(QJSEngine& engine, const std::string& program) {
  QStringList trace;
  Outcome outcome{engine.evaluate(ToQString(program), QString(), 1, &trace), false};
  outcome.ok = trace.isEmpty() && !outcome.value.isError();
  if (outcome.ok) {
    last_error.clear();
  } else {
    last_error = "script error: " + outcome.value.toString().toStdString();
  }
  return outcome;
}

std::string AsText(const QJSValue& value) {
  if (value.isUndefined()) return {};
  if (value.isNull()) {
    last_error = "a null value has no text";
    return {};
  }
  return value.toString().toStdString();
}

}  // namespace

ScriptHost::ScriptHost() : instance_(std::make_shared<Instance>()) {}
ScriptHost::~ScriptHost() = default;
ScriptHost::ScriptHost(const ScriptHost& other) = default;
ScriptHost& ScriptHost::operator=(const ScriptHost& other) = default;

bool ScriptHost::ExecuteStatement(const std::string& statement) {
  return Evaluate(*instance_->engine, statement).ok;
}

std::string ScriptHost::Eval(const std::string& expression) {
  const Outcome outcome = Evaluate(*instance_->engine, expression);
  return outcome.ok ? AsText(outcome.value) : std::string();
}

void ScriptHost::Reset() {
  instance_->global = QJSValue();
  instance_->engine = std::make_unique<QJSEngine>();
  instance_->global = instance_->engine->globalObject();
  last_error.clear();
}

std::string ScriptHost::ErrorText() { return last_error; }

QJSEngine* ScriptHost::HostedObject() const { return instance_->engine.get(); }

std::string ScriptHost::Run(const std::string& procedure,
                            const std::array<std::optional<std::string>, 6>& arguments) {
  const QJSValue function = instance_->global.property(ToQString(procedure));
  if (!function.isCallable()) {
    last_error = "no procedure named " + procedure;
    return {};
  }
  QJSValueList passed;
  for (const auto& argument : arguments) {
    if (!argument) break;  // only the leading run of supplied arguments is passed
    passed << QJSValue(ToQString(*argument));
  }
  const QJSValue result = function.call(passed);
  if (result.isError()) {
    last_error = "script error: " + result.toString().toStdString();
    return {};
  }
  last_error.clear();
  return AsText(result);
}

std::string ScriptHost::Language(int mode) {
  if (mode == 0) instance_->language = "JScript";
  if (mode == 1) instance_->language = "vbs";
  last_error.clear();
  return instance_->language;
}

int ScriptHost::Timeout(std::optional<int> limit) {
  instance_->timeout = limit.value_or(-1);
  last_error.clear();
  return instance_->timeout;
}

int ScriptHost::State(std::optional<int> value) {
  if (value) instance_->state = *value;
  last_error.clear();
  return instance_->state;
}

bool ScriptHost::AllowUI(std::optional<bool> value) {
  if (value) instance_->allow_ui = *value;
  last_error.clear();
  return instance_->allow_ui;
}

std::int64_t ScriptHost::SitehWnd(std::optional<std::int64_t> value) {
  if (value) instance_->site_window = *value;
  last_error.clear();
  return instance_->site_window;
}

void ScriptHost::AddCode(const std::string& code) { Evaluate(*instance_->engine, code); }

std::optional<std::string> ScriptHost::CallWithNumbers(std::string_view object, std::string_view function,
                                                       std::span<const double> arguments) {
  const QJSValue target = instance_->global.property(
      QString::fromUtf8(object.data(), static_cast<qsizetype>(object.size())));
  if (!target.isObject()) return std::nullopt;
  const QJSValue callee = target.property(QString::fromUtf8(function.data(), static_cast<qsizetype>(function.size())));
  if (!callee.isCallable()) return std::nullopt;
  QJSValueList passed;
  for (double argument : arguments) passed << QJSValue(argument);
  const QJSValue result = callee.callWithInstance(target, passed);
  // A thrown value cannot be told from a returned one here; the functions this
  // stands in for return arrays, so anything else goes the evaluated way.
  if (!result.isArray()) return std::nullopt;
  last_error.clear();
  return result.toString().toStdString();
}

}  // namespace tavimo::geo
