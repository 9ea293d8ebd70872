// The desired-state verbs (`export` in app/command_export.cpp). `apply`
// makes its document into one plan, which a dry run prints and a run
// carries out through the account engine: for
// each resource in order, what is and what will be. The accounts come first
// (made, deleted, their settings and pictures), then the group memberships
// as the account steps will already have left them (an account made or
// given a type joins that type's group and leaves the other two), then the
// profiles' clean-up, the automatic sign-in and the findings to mend, each
// read at its turn.
#pragma once

class CommandRun;

int Apply(CommandRun& run);
// The machine's accounts, groups and automatic sign-in as a document for `apply`.
int Export(CommandRun& run);
