-- Version 3: the owners that carry a mark are found without reading every owner. The owner list
-- clears the marks each time it opens (update ... where selFlag <> 0), which otherwise reads the
-- whole table.
CREATE INDEX UserInfo_Marked ON UserInfo (selFlag) WHERE selFlag <> 0;
