#pragma once

// Subcommands of ts-inspect; each receives the arguments after its own name.
int runScanCommand(int argc, char** argv);
int runGuideCommand(int argc, char** argv);
int runRecordCommand(int argc, char** argv);
