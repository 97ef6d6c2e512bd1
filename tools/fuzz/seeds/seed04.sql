SELECT SUM(COALESCE(_Income,0)) - SUM(COALESCE(_Expenditure,0)) AS _BAL
FROM Transactions
WHERE _fkAccounts = 12