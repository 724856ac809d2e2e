// The service's life: started by the service control manager (COM asks it to, for the class's first
// caller), serves the class until it has been quiet for a while or is told to stop.
#pragma once

namespace OV::ElevationService
{

// Hands the process to the service control manager; returns when the service has stopped. A program
// not started by the service control manager serves nobody: the exit code is then 1.
int RunService();

} // namespace OV::ElevationService
