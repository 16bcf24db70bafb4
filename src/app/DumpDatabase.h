// Printing an existing desktop database file for "--dump".
#pragma once

// Reads the file and prints its records; true when it was printed. Only a regular file is read: anything
// else (a folder, FIFO, socket or device) draws an error line instead, as does a thrown error text.
bool DumpDatabaseFile(char const* path);
