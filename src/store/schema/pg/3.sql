-- Version 3: indexes for the owner lists of 100,000 owners, as on the SQLite file.
-- The owners that carry a mark, found without reading every owner (the statements test the mark
-- with "<> false", as the index does).
CREATE INDEX UserInfo_Marked ON UserInfo (selFlag) WHERE selFlag <> false;
-- The loss state beside the name, for the owner card issuing list.
DROP INDEX UserInfo_UserName;
CREATE INDEX UserInfo_UserName ON UserInfo (UserName, chLoss);
