00105nam0 2200061   450 001000400000200002100004210001800025c011 aTitle textfAuth  aBeijingd2001
00241nam0 2200061   450 001000400000200001900004330015600023c021 a中文书名f张三  axxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx中文书名中文书名中文书名中文书名中文书名中文书名中文书名中文书名中文书名中文书名
