// Printing an existing desktop database file for "--dump".
#pragma once

// Reads the file and prints its records; a thrown error text is reported on the standard error
// and the run goes on.
void DumpDatabaseFile(char const* path);
