#pragma once
// Where the programs find their own files: the data folder (share/tiravex)
// beside the folder that holds the running program, the same whether it
// runs from the build tree or installed under a prefix such as /usr.

#include <string>

namespace host {

// The folder of the running program (from /proc/self/exe); "" when unknown.
std::string ProgramFolder();

// <program folder>/../share/tiravex (without the ".."); "" when unknown.
std::string DataFolder();

// The pages a browser gets from tiravex-serve by default: <data>/pages/web.
std::string DefaultWebRoot();

// A page script named without a folder ("viewer.js") that is not in the
// current folder is looked up in <data>/pages; any other name is returned
// as it stands.
std::string ResolvePageScript(const std::string& name);

}
