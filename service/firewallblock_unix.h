#pragma once

#include "service/firewallblock.h"

// The nftables table of the block ("inet tovra_killswitch"), and the script that loads it in one
// transaction, replacing an earlier one.
extern const char *const KillSwitchTable;
QString nftBlockScript(const BlockRules &rules);
