#pragma once

#include <QStringList>

// The Monitor log lines of a complete update, from the first image to the end.
inline const QStringList CompleteUpdateLog{"- FLASHING OS FLASH -",
                                           "-> LOADING FIRMWARE FILE: QLM_OS.bin  [OK]",
                                           "-> STARTING OS FLASH UPDATE  [OK]",
                                           "-> FLASHING CONFIRMED  [OK]",
                                           "-> WAITING 5 SECONDS FOR BOOT DEVICE  [OK]",
                                           "- FLASHING EXTERNAL FLASH -",
                                           "-> LOADING FIRMWARE FILE: QLM_EXT.bin  [OK]",
                                           "-> STARTING EXT FLASH UPDATE  [OK]",
                                           "-> FLASHING CONFIRMED  [OK]",
                                           " ",
                                           "- QUILLMOOR HAS BEEN UPDATED -"};
