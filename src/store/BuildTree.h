#pragma once

#include <QString>
#include <vector>

// The tree of buildings and units the windows show, read from the building table.

class Tdm;

// The building tree: root "小区栋号/单元", one node per building, under it one node per unit.
struct BuildTreeNode {
    QString Text;
    int ImageIndex = 0;
    std::vector<BuildTreeNode> Children;
};
constexpr int BuildTreeRootImage = 3;
constexpr int BuildTreeBuildingImage = 1;
constexpr int BuildTreeUnitImage = 2;
extern const char* const BuildTreeRootText;

// The building tree as data, read in one statement: one node per building, its units under
// it. Errors throw OperationError.
BuildTreeNode FillBuildTree(Tdm& module);
