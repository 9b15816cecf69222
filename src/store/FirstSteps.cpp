#include "FirstSteps.h"

#include "DM.h"
#include "SaveLoad.h"

FirstStepsProgress ReadFirstSteps(Tdm& module)
{
    FirstStepsProgress steps;
    steps.regionSet = RegionIdSet();
    // "CardID > ''" leaves out Null and empty serials and walks the index on CardID, so a community
    // of owners without cards is not read through.
    DataSet ds(module, QStringLiteral("firstSteps"));
    ds.Open(QStringLiteral(
        "select exists (select 1 from BuildInfo) as b, exists (select 1 from TerminalInfo) as t, "
        "exists (select 1 from UserInfo) as u, "
        "exists (select 1 from UserInfo where CardID > '') as c"));
    steps.buildings = module.FieldAsBool(ds, QStringLiteral("b"));
    steps.terminals = module.FieldAsBool(ds, QStringLiteral("t"));
    steps.owners = module.FieldAsBool(ds, QStringLiteral("u"));
    steps.cardWritten = module.FieldAsBool(ds, QStringLiteral("c"));
    return steps;
}
