-- Version 3: indexes for the owner lists of 100,000 owners.
-- The owners that carry a mark are found without reading every owner: the owner list clears the
-- marks each time it opens (update ... where selFlag <> 0), which otherwise reads the whole table.
CREATE INDEX UserInfo_Marked ON UserInfo (selFlag) WHERE selFlag <> 0;
-- The owner card issuing list leaves out the owners reported lost and searches any part of a
-- name: with the loss state beside the name, counting those owners reads this small index instead
-- of every owner row with its terminals and photo. Looking up a whole name works as before.
DROP INDEX UserInfo_UserName;
CREATE INDEX UserInfo_UserName ON UserInfo (UserName, chLoss);
