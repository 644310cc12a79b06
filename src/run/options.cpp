#include "run/options.h"

#include "common/strings.h"
#include "log/log.h"

namespace varnok {
namespace {

// Scans the vector; a value option as the last argument stops the scan with what was parsed.
void ScanArguments(int argc, const char* const* argv, RunOptions& options) {
  struct ValueOption {
    const char* name;
    std::string RunOptions::*field;
  };
  static const ValueOption kValueOptions[] = {
      {"-displayName", &RunOptions::DisplayName},   {"-matchType", &RunOptions::MatchTypeText},
      {"-nameMatch", &RunOptions::NameMatchText},   {"-exactVersion", &RunOptions::ExactVersion},
      {"-seriesPrefix", &RunOptions::SeriesPrefix}, {"-minVersion", &RunOptions::MinVersion},
      {"-maxVersion", &RunOptions::MaxVersion},     {"-exeArgs", &RunOptions::ExeArgs},
  };
  int i = 0;
  while (i < argc) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    const ValueOption* option = nullptr;
    for (const ValueOption& candidate : kValueOptions) {
      if (EqualsNoCase(arg, candidate.name)) {
        option = &candidate;
        break;
      }
    }
    if (option) {
      if (i + 1 >= argc) return;
      options.*(option->field) = argv[i + 1] ? argv[i + 1] : "";
      i += 2;
      continue;
    }
    if (EqualsNoCase(arg, "-whatIf")) options.WhatIf = true;
    ++i;
  }
}

void LogParameters(const RunOptions& o) {
  LogInfo("param_name : DisplayName; param_value : \"%s\";", o.DisplayName.c_str());
  LogInfo("param_name : MatchType; param_value : \"%s\";", o.MatchTypeText.c_str());
  LogInfo("param_name : NameMatch; param_value : \"%s\";", o.NameMatchText.c_str());
  LogInfo("param_name : ExactVersion; param_value : \"%s\";", o.ExactVersion.c_str());
  LogInfo("param_name : SeriesPrefix; param_value : \"%s\";", o.SeriesPrefix.c_str());
  LogInfo("param_name : MinVersion; param_value : \"%s\";", o.MinVersion.c_str());
  LogInfo("param_name : MaxVersion; param_value : \"%s\";", o.MaxVersion.c_str());
  LogInfo("param_name : ExeArgs; param_value : \"%s\";", o.ExeArgs.c_str());
  LogInfo("param_name : WhatIf; param_value : \"%s\";", o.WhatIf ? "true" : "false");
}

int Fail(const char* remarks) {
  LogError("operation : ProcessArgs; status : failure; remarks : \"%s\"; "
           "return_value : ERROR_INVALID_PARAMETER;",
           remarks);
  return kErrorInvalidParameter;
}

}  // namespace

int ProcessArgs(int argc, const char* const* argv, RunOptions& options) {
  options = RunOptions();
  ScanArguments(argc, argv, options);
  LogParameters(options);

  if (options.DisplayName.empty()) {
    return Fail("Display name not provided. Use -displayName <displayName> parameter.");
  }
  if (EqualsNoCase(options.MatchTypeText, "Exact")) {
    options.MatchType = VersionMatchKind::kExact;
    if (options.ExactVersion.empty()) {
      return Fail("MatchType=Exact requires -exactVersion <version> parameter.");
    }
  } else if (EqualsNoCase(options.MatchTypeText, "Series")) {
    options.MatchType = VersionMatchKind::kSeries;
    if (options.SeriesPrefix.empty()) {
      return Fail("MatchType=Series requires -seriesPrefix <prefix> parameter.");
    }
  } else if (EqualsNoCase(options.MatchTypeText, "Range")) {
    options.MatchType = VersionMatchKind::kRange;
    if (options.MinVersion.empty() || options.MaxVersion.empty()) {
      return Fail("MatchType=Range requires both -minVersion <version> and -maxVersion "
                  "<version> parameters.");
    }
  } else {
    return Fail("MatchType must be one of Exact, Series or Range. Use -matchType <matchType> "
                "parameter.");
  }

  if (EqualsNoCase(options.NameMatchText, "Exact")) {
    options.NameMatch = NameMatchKind::kExact;
  } else if (EqualsNoCase(options.NameMatchText, "Prefix")) {
    options.NameMatch = NameMatchKind::kPrefix;
  } else if (EqualsNoCase(options.NameMatchText, "Contains")) {
    options.NameMatch = NameMatchKind::kContains;
  } else {
    return Fail("NameMatch must be one of Exact, Prefix or Contains. Use -nameMatch <nameMatch> "
                "parameter.");
  }
  return 0;
}

}  // namespace varnok
