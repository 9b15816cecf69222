#include "BuildTree.h"

#include "DM.h"

const char* const BuildTreeRootText = "小区栋号/单元";

BuildTreeNode FillBuildTree(Tdm& module)
{
    BuildTreeNode root{QString::fromUtf8(BuildTreeRootText), BuildTreeRootImage, {}};
    // Every unit in one statement, in the order of the tree (a statement per building costs a
    // round trip each on a server: a community has hundreds of buildings).
    DataSet ds(module, QStringLiteral("buildTree"));
    ds.Open(QStringLiteral("select DongHao,DanYuan,DanYuanName from BuildInfo order by DongHao,DanYuan"));
    bool first = true;
    QVariant building;
    while (!ds.Eof()) {
        const QVariant dongHao = ds.Field(QStringLiteral("DongHao"));
        if (first || dongHao != building) {
            root.Children.push_back(
                {module.FieldAsText(ds, QStringLiteral("DongHao")), BuildTreeBuildingImage, {}});
            building = dongHao;
            first = false;
        }
        // A unit without a building number is under no building (its building node stays empty).
        if (!dongHao.isNull()) {
            root.Children.back().Children.push_back(
                {module.FieldAsText(ds, QStringLiteral("DanYuan")) + QStringLiteral(" - [") +
                     module.FieldAsText(ds, QStringLiteral("DanYuanName")) + QStringLiteral("]"),
                 BuildTreeUnitImage,
                 {}});
        }
        ds.Next();
    }
    return root;
}
