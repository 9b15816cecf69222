#include "Startup.h"

#include "DM.h"
#include "DbMaintenance.h"

#include <memory>

namespace {

Tdm* started(std::unique_ptr<Tdm> module)
{
    RemoveMaintenanceLeftovers(module->Target().FilePath());
    return module.release();
}

} // namespace

Tdm* StartDataModule()
{
    return started(std::make_unique<Tdm>());
}

Tdm* StartDataModule(const DatabaseTarget& target)
{
    return started(std::make_unique<Tdm>(target));
}
