// The version of the system, as the build was given it: one number for every program, since they
// are installed and removed together.
#pragma once

// "0.1": the project's version, a C string that lives as long as the process.
const char* CorvimusVersionString();
