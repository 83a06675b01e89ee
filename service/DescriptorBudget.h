#pragma once

// Raises the soft limit of open files to the hard limit, as daemons do, and says on standard
// error and in the log when even that is below what the service needs with every console
// slot, sender and metrics connection busy. Run it before the controller starts.
void CheckDescriptorBudget();
